// Kills a writing child process at random points: every file it leaves must
// be complete, and the next write must succeed despite any stray temporary.
#include <windows.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "storage/crash_content.h"
#include "storage/durable_file.h"
#include "storage/scratch_dir.h"

namespace {

using qbtest::crashContent;
using qbtest::readBytes;

std::string writerExe() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string self(path, n);
  return self.substr(0, self.find_last_of('\\') + 1) + "storage_crash_writer.exe";
}

// Starts the writer as `mode "where" <ready-event> extra`, lets it run for
// `runMs` after it signalled readiness, then kills it. Returns false when it
// could not be started or did not get ready.
bool runAndKill(const std::string& mode, const std::string& where, const std::string& extra, DWORD runMs) {
  static unsigned counter = 0;
  const std::string eventName = "qb-crash-ready-" + std::to_string(GetCurrentProcessId()) + "-" +
                                std::to_string(counter++);
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
  if (!ready) return false;
  // The ready event comes third, before any mode-specific argument: the writer
  // opens argv[3] as the event whatever the mode.
  std::string command = "\"" + writerExe() + "\" " + mode + " \"" + where + "\" " + eventName;
  if (!extra.empty()) command += " " + extra;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    CloseHandle(ready);
    return false;
  }
  HANDLE waits[2] = {ready, process.hProcess};
  const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, 10000);
  if (woke == WAIT_OBJECT_0) Sleep(runMs);
  TerminateProcess(process.hProcess, 9);
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  CloseHandle(ready);
  return woke == WAIT_OBJECT_0;
}

constexpr int kKills = 25;

TEST(DurableCrash, ReplaceLeavesOneCompleteVersion) {
  qbtest::ScratchDir dir("crash-replace");
  const std::string target = dir.file("high-water.json");
  std::mt19937 random(20261210);
  int written = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    ASSERT_TRUE(runAndKill("replace", target, "", random() % 40));
    const std::string now = readBytes(target);
    if (now == "<missing>" && kill == 0) continue;  // killed before its first rename
    ASSERT_TRUE(now == crashContent(0) || now == crashContent(1) || now == crashContent(2))
        << "torn target of " << now.size() << " bytes";
    if (now != crashContent(2)) ++written;
    qbsync::replaceFile(target, crashContent(2));
    ASSERT_EQ(readBytes(target), crashContent(2));
  }
  EXPECT_GT(written, kKills / 2) << "the writer hardly ever got to replace the file";
}

TEST(DurableCrash, PublishLeavesOnlyCompleteRecords) {
  qbtest::ScratchDir dir("crash-publish");
  std::mt19937 random(4242);
  int records = 0;
  int strays = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    // Fresh index ranges per run keep every record name distinct.
    const unsigned first = static_cast<unsigned>(kill) * 100000u;
    ASSERT_TRUE(runAndKill("publish", dir.path(), std::to_string(first), random() % 40));
    for (const std::string& name : qbsync::listFiles(dir.path(), "r-*")) {
      const unsigned i = static_cast<unsigned>(std::stoul(name.substr(2)));
      const std::string path = dir.file(name);
      const bool temporary = name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0;
      if (!temporary) {
        ASSERT_EQ(readBytes(path), crashContent(i)) << name;
        continue;
      }
      ++strays;
      const std::string target = path.substr(0, path.size() - 4);
      ASSERT_FALSE(qbtest::exists(target)) << "a temporary file outlived its rename: " << name;
      ASSERT_TRUE(qbsync::publishOnce(target, crashContent(i)));
      ASSERT_EQ(readBytes(target), crashContent(i));
      ASSERT_FALSE(qbtest::exists(path));
    }
    records = static_cast<int>(qbsync::listFiles(dir.path(), "r-*.json").size());
  }
  EXPECT_GT(records, kKills) << "the writer hardly ever published";
  RecordProperty("stray_temporaries", strays);
}

}  // namespace
