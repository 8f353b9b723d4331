// qb-hostsim: a simulated chart host for the study library.
//
//   qb-hostsim play <study.dll> <scenario.json> [--data-folder DIR] [--start-step N|LABEL]
//                   [--charts N]
//   qb-hostsim prepare-settings <data-folder> <settings.json>...
//   qb-hostsim hold <file> <until-file>
//
// Paths may be Windows paths or absolute Unix paths (read as Z:\...).
// Exit status: 0 done; 2 bad arguments or scenario; 3 the library or its
// study function cannot be loaded; 4 a step's "until" timed out; 5 the
// settings file could not be written; 6 a setup action failed.
#include <windows.h>
#include <psapi.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "prepare_settings.h"
#include "scenario.h"
#include "setup_driver.h"
#include "sim_host.h"
#include "window_refusal.h"

namespace {

using qbhostsim::Scenario;
using qbhostsim::SimHost;
using qbhostsim::Step;

std::string narrow(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring wide(const std::string& text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring out(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), n);
  return out;
}

// Scripts run on the Unix side of wine and pass Unix paths.
std::string windowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') {
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    path = "Z:" + path;
  }
  return path;
}

bool readText(const std::string& path, std::string& text) {
  std::FILE* f = _wfopen(wide(windowsPath(path)).c_str(), L"rb");
  if (!f) return false;
  text.clear();
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// A workspace of a few hundred charts is already far beyond a trader's.
constexpr int kMaxCharts = 200;

int usage() {
  std::fprintf(stderr,
               "usage: qb-hostsim play <study.dll> <scenario.json> [--data-folder DIR] [--start-step N|LABEL]\n"
               "                        [--charts N]\n"
               "       qb-hostsim prepare-settings <data-folder> <settings.json>...\n"
               "       qb-hostsim hold <file> <until-file>\n");
  return 2;
}

// GetProcAddress answers a generic function pointer; the export's real type is known.
template <typename F>
F exportOf(HMODULE library, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// The process ends the way a killed host does: no final call, no unloading.
[[noreturn]] void dieNow(UINT code) {
  std::fflush(stdout);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), code);
  ExitProcess(code);
}

// The charts of one host process, all called from this (the chart) thread.
using Workspace = std::vector<std::unique_ptr<SimHost>>;

// 0, or the exit status the step earns: 4 an until timed out, 6 a setup action failed.
// Every chart takes the step's changes and calls, in chart order; the waits
// between calls are the chart thread's, so each is made once for all.
int runStep(Workspace& charts, StudyFunction study, const Scenario& scenario, const Step& step, std::size_t index) {
  std::printf("HOSTSIM STEP %zu%s%s\n", index, step.label.empty() ? "" : " ", step.label.c_str());
  std::fflush(stdout);
  SimHost& first = *charts.front();
  const auto advanceAll = [&charts](std::int64_t ms) {
    for (auto& host : charts) host->advanceTime(ms * 1000);
  };
  const auto callAll = [&charts, study]() {
    for (auto& host : charts) host->call(study, false, false);
  };
  for (auto& host : charts) {
    if (step.at) host->setTime(*step.at);
    host->applyState(step);
  }
  const std::int32_t wait = step.waitMs >= 0 ? step.waitMs : scenario.defaultWaitMs;
  int result = 0;
  if (step.call) {
    if (!step.at) advanceAll(wait);
    first.wait(static_cast<std::uint32_t>(wait));
    std::vector<std::size_t> logFrom;
    for (auto& host : charts) {
      host->prepareEvents(step);
      logFrom.push_back(host->logSize());
    }
    if (!step.setup.empty()) {
      // The trader works in the setup window while the chart keeps calling:
      // calls go on every wait (at least 50 ms) until the actions are done.
      // (A workspace has no setup steps: play refuses them.)
      const std::uint32_t every = static_cast<std::uint32_t>(std::max(wait, 50));
      qbhostsim::SetupDriver driver(static_cast<HWND>(first.chartWindow()), step.setup, stdout);
      first.call(study, false, false);
      while (!driver.finished()) {
        first.wait(every);
        first.advanceTime(static_cast<std::int64_t>(every) * 1000);
        first.call(study, false, false);
      }
      if (!driver.succeeded()) result = 6;
    }
    if (step.until) {
      const qbhostsim::UntilSpec& u = *step.until;
      const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(u.timeoutMs);
      // A chart that met the condition stays met; the step ends when all have.
      std::vector<bool> met(charts.size(), false);
      for (std::int64_t calls = 1;; ++calls) {
        callAll();
        // The file is the same for every chart.
        const bool fileHit =
            !u.fileExists.empty() && GetFileAttributesW(wide(windowsPath(u.fileExists)).c_str()) != INVALID_FILE_ATTRIBUTES;
        bool all = true;
        for (std::size_t k = 0; k < charts.size(); ++k) {
          const SimHost& host = *charts[k];
          const bool logHit = !u.logContains.empty() && host.logSince(logFrom[k], u.logContains);
          const bool statusHit =
              !u.statusContains.empty() && host.statusText().find(u.statusContains) != std::string::npos;
          if (logHit || statusHit || fileHit) met[k] = true;
          all = all && met[k];
        }
        if (all) {
          std::printf("HOSTSIM UNTIL met after %lld calls\n", static_cast<long long>(calls));
          break;
        }
        if (GetTickCount64() >= deadline) {
          std::printf("HOSTSIM UNTIL TIMEOUT after %lld calls (log \"%s\", status \"%s\", file \"%s\")\n",
                      static_cast<long long>(calls), u.logContains.c_str(), u.statusContains.c_str(),
                      u.fileExists.c_str());
          if (charts.size() > 1) {
            for (std::size_t k = 0; k < charts.size(); ++k) {
              if (!met[k]) std::printf("HOSTSIM CHART %zu UNTIL not met\n", k + 1);
            }
          }
          if (result == 0) result = 4;
          break;
        }
        first.wait(static_cast<std::uint32_t>(u.everyMs));
        advanceAll(u.everyMs);
      }
      std::fflush(stdout);
    } else if (step.setup.empty()) {
      for (std::int32_t i = 0; i < step.repeat; ++i) {
        if (i > 0) {
          first.wait(static_cast<std::uint32_t>(wait));
          advanceAll(wait);
        }
        callAll();
      }
    }
  }
  for (auto& host : charts) {
    for (std::int32_t i = 0; i < step.renders; ++i) host->render();
  }
  if (step.crash) {
    std::printf("HOSTSIM CRASH at step %zu\n", index);
    dieNow(9);
  }
  return result;
}

// workspace: 0 for one chart, printed as ever; N for a workspace of N
// charts, whose lines name their chart.
int play(const std::string& dllPath, const std::string& scenarioPath, const std::string& dataFolder,
         const std::string& startStep, int workspace) {
  std::string text;
  if (!readText(scenarioPath, text)) {
    std::fprintf(stderr, "qb-hostsim: cannot read %s\n", scenarioPath.c_str());
    return 2;
  }
  Scenario scenario;
  std::size_t first = 0;
  try {
    scenario = qbhostsim::parseScenario(text);
    if (!startStep.empty()) first = qbhostsim::stepIndex(scenario, startStep);
  } catch (const qbhostsim::ScenarioError& e) {
    std::fprintf(stderr, "qb-hostsim: %s: %s\n", scenarioPath.c_str(), e.what());
    return 2;
  }
  if (!dataFolder.empty()) scenario.chart.dataFolder = windowsPath(dataFolder);
  if (scenario.chart.dataFolder.empty()) {
    std::fprintf(stderr, "qb-hostsim: no data folder (scenario \"data_folder\" or --data-folder)\n");
    return 2;
  }
  // The setup driver plays one setup window; which chart's would be a guess.
  if (workspace > 1 &&
      std::any_of(scenario.steps.begin(), scenario.steps.end(), [](const Step& s) { return !s.setup.empty(); })) {
    std::fprintf(stderr, "qb-hostsim: %s: setup steps are played on one chart only, not with --charts\n",
                 scenarioPath.c_str());
    return 2;
  }

  if (scenario.chart.refuseSetupWindow ||
      std::any_of(scenario.steps.begin(), scenario.steps.end(), [](const Step& s) { return s.refuseSetupWindow; })) {
    qbhostsim::armWindowRefusal();
  }
  HMODULE library = LoadLibraryW(wide(windowsPath(dllPath)).c_str());
  if (!library) {
    std::fprintf(stderr, "qb-hostsim: cannot load %s (error %lu)\n", dllPath.c_str(), GetLastError());
    return 3;
  }
  auto study = exportOf<StudyFunction>(library, "scsf_QuorbelleApiSyncCollector");
  if (!study) {
    std::fprintf(stderr, "qb-hostsim: %s has no scsf_QuorbelleApiSyncCollector\n", dllPath.c_str());
    return 3;
  }
  auto name = exportOf<const char* (*)()>(library, "scdll_DLLName");
  auto version = exportOf<int (*)()>(library, "scdll_DLLVersion");
  std::printf("HOSTSIM DLL %s version %d\n", name ? name() : "?", version ? version() : 0);

  int status = 0;
  try {
    // Chart k of a workspace: the next chart number, and its own account
    // (the scenario's with "-k" for k > 1), so its own scope and sender.
    Workspace charts;
    const int count = std::max(workspace, 1);
    for (int k = 1; k <= count; ++k) {
      qbhostsim::Chart chart = scenario.chart;
      chart.chartId += k - 1;
      const std::string tag = workspace > 0 ? "CHART " + std::to_string(k) + " " : "";
      charts.push_back(std::make_unique<SimHost>(chart, stdout, tag, k > 1 ? "-" + std::to_string(k) : ""));
    }
    // A restarted host has the chart's history loaded already: earlier steps
    // contribute what they loaded, without their calls.
    for (auto& host : charts) {
      for (std::size_t i = 0; i < first; ++i) {
        const Step& step = scenario.steps[i];
        if (step.at) host->setTime(*step.at);
        host->applyState(step);
      }
    }
    if (first > 0) std::printf("HOSTSIM START at step %zu\n", first);
    for (auto& host : charts) host->call(study, true, false);
    for (std::size_t i = first; i < scenario.steps.size(); ++i) {
      if (const int r = runStep(charts, study, scenario, scenario.steps[i], i); r != 0 && status == 0) status = r;
    }
    for (auto& host : charts) host->printInputs();
    if (!scenario.finalCall) {
      std::printf("HOSTSIM EXIT without final call\n");
      dieNow(static_cast<UINT>(status));
    }
    long long calls = 0;
    for (auto& host : charts) {
      host->call(study, false, true);
      calls += host->calls();
    }
    if (workspace > 0) {
      std::printf("HOSTSIM DONE calls=%lld charts=%d\n", calls, workspace);
    } else {
      std::printf("HOSTSIM DONE calls=%lld\n", calls);
    }
    if (scenario.chart.timeCalls) {
      PROCESS_MEMORY_COUNTERS memory{};
      memory.cb = sizeof memory;
      if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory)) {
        std::printf("HOSTSIM PEAK_WORKING_SET %llu\n", static_cast<unsigned long long>(memory.PeakWorkingSetSize));
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qb-hostsim: %s\n", e.what());
    std::fflush(stdout);
    return 2;
  }
  std::fflush(stdout);
  FreeLibrary(library);
  return status;
}

// Another program holding a file open without sharing, as a backup or scan
// tool may hold a study's lock file, until a second file exists.
int holdFile(const std::string& path, const std::string& untilFile) {
  HANDLE file = CreateFileW(wide(windowsPath(path)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "qb-hostsim: cannot open %s (error %lu)\n", path.c_str(), GetLastError());
    return 2;
  }
  std::printf("HOSTSIM HOLD %s\n", windowsPath(path).c_str());
  std::fflush(stdout);
  const ULONGLONG deadline = GetTickCount64() + 120000;
  int status = 4;
  while (GetTickCount64() < deadline) {
    if (GetFileAttributesW(wide(windowsPath(untilFile)).c_str()) != INVALID_FILE_ATTRIBUTES) {
      status = 0;
      break;
    }
    Sleep(100);
  }
  CloseHandle(file);
  std::printf("HOSTSIM RELEASED %s\n", windowsPath(path).c_str());
  return status;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Scripts on the Unix side read the output: plain newlines, no CR.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(narrow(argv[i]));
  if (args.empty()) return usage();
  if (args[0] == "prepare-settings") {
    if (args.size() < 3) return usage();
    // Several documents in one run: a workspace's charts each have their own.
    for (std::size_t i = 2; i < args.size(); ++i) {
      std::string text;
      if (!readText(args[i], text)) {
        std::fprintf(stderr, "qb-hostsim: cannot read %s\n", args[i].c_str());
        return 2;
      }
      try {
        const std::string path = qbhostsim::prepareSettings(windowsPath(args[1]), text);
        std::printf("HOSTSIM SETTINGS %s\n", path.c_str());
      } catch (const std::exception& e) {
        std::fprintf(stderr, "qb-hostsim: prepare-settings: %s: %s\n", args[i].c_str(), e.what());
        return 5;
      }
    }
    return 0;
  }
  if (args[0] == "hold") {
    if (args.size() != 3) return usage();
    return holdFile(args[1], args[2]);
  }
  if (args[0] != "play" || args.size() < 3) return usage();
  std::string dataFolder, startStep;
  int charts = 0;
  for (std::size_t i = 3; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) return usage();
    if (args[i] == "--data-folder") {
      dataFolder = args[i + 1];
    } else if (args[i] == "--start-step") {
      startStep = args[i + 1];
    } else if (args[i] == "--charts") {
      const std::string& n = args[i + 1];
      if (n.empty() || n.size() > 3 || n.find_first_not_of("0123456789") != std::string::npos) return usage();
      charts = std::stoi(n);
      if (charts < 1 || charts > kMaxCharts) return usage();
    } else {
      return usage();
    }
  }
  return play(args[1], args[2], dataFolder, startStep, charts);
}
