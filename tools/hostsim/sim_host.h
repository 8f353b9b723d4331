// A simulated chart host: implements StudyHost for one study on one chart,
// keeps its inputs, kept values and menu entries as a host does, loads fills,
// orders and symbol details from a scenario, converts time zones, writes the
// chart images the study asks for when the chart renders, and prints what a
// host would show: every message log line, one per line, prefixed
// "HOSTSIM LOG <flag> ". Windows only; one thread, which several SimHosts may
// share as the charts of one workspace share the host's chart thread.
#ifndef QB_HOSTSIM_SIM_HOST_H
#define QB_HOSTSIM_SIM_HOST_H

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "poll_baseline.h"
#include "scenario.h"
#include "study/study_host.h"
#include "time_zones.h"

namespace qbhostsim {

class SimHost {
 public:
  // out receives every line the host prints. In a workspace, tag (as
  // "CHART 2 ") follows "HOSTSIM " on each of them, and accountSuffix is
  // appended to every account the scenario names, the chart's own among them,
  // so the charts play the same scenario on scopes of their own.
  SimHost(const Chart& chart, std::FILE* out, std::string tag = {}, std::string accountSuffix = {});
  // Destroys the chart window.
  ~SimHost();
  SimHost(const SimHost&) = delete;
  SimHost& operator=(const SimHost&) = delete;

  // Applies what a step loads or changes on the chart; menu picks, keys and
  // calls are separate. Throws std::runtime_error for an unknown time zone.
  void applyState(const Step& step);
  // Sets the menu pick and key of the next call; the call clears them.
  void prepareEvents(const Step& step);
  // One call of the study function: the declaration call, an ordinary call
  // or the final call. Prints the status when it changed.
  void call(StudyFunction study, bool defaults, bool final);
  // One chart render: pending chart images that are due are written.
  void render();
  // Waits ms real milliseconds; with a chart window, dispatching its thread's
  // messages meanwhile, as a host's chart thread does between calls.
  void wait(std::uint32_t ms);
  // The chart window (an HWND) the study is given, or null without one.
  void* chartWindow() const { return host_.chartWindow; }

  // The host's simulated date-time (chart zone).
  void advanceTime(std::int64_t micros) { now_ += micros; }
  void setTime(HostDateTime chartLocal) { now_ = chartLocal; }

  std::string statusText() const;
  bool logSince(std::size_t from, const std::string& text) const;
  std::size_t logSize() const { return log_.size(); }
  void printInputs();
  std::int64_t calls() const { return calls_; }

 private:
  struct Input {
    std::string label;
    StudyInput view{};
    std::string text;
  };
  struct Fill {
    HostFillRecord record{};
    std::string symbol, account, executionId, note, serviceOrderId;
    bool loading = false;
  };
  struct Order {
    HostOrderRecord record{};
    std::string symbol, account, type, note;
  };
  struct Capture {
    std::string path;
    std::int32_t rendersLeft = 0;
    CaptureOptions::Mode mode = CaptureOptions::Mode::kWrite;
  };

  static SimHost& self(StudyHost* host) { return *static_cast<SimHost*>(host->hostContext); }
  void bindFunctions();
  void refreshChart();
  void refreshView(Input& input);
  void line(const std::string& kind, const std::string& text);
  void writePendingLines();
  std::string tradeSymbol() const;
  HostDateTime fillTime(const TimeSpec& t);

  // StudyHost functions.
  static void setDisplayName(StudyHost* host, const char* text);
  static void setDescriptionText(StudyHost* host, const char* text);
  static StudyInput* inputSlot(StudyHost* host, int32_t index);
  static void declareInput(StudyHost* host, int32_t index, const char* label, int32_t kind, int32_t integerDefault,
                           int32_t minimum, int32_t maximum, const char* textDefault);
  static void setInputInteger(StudyHost* host, int32_t index, int32_t value);
  static void setInputText(StudyHost* host, int32_t index, const char* text);
  static void** keptPointer(StudyHost* host, int32_t key);
  static int32_t* keptInteger(StudyHost* host, int32_t key);
  static const char* keptText(StudyHost* host, int32_t key);
  static void setKeptText(StudyHost* host, int32_t key, const char* text);
  static void logMessage(StudyHost* host, const char* text, int32_t flag);
  static int32_t addMenuEntry(StudyHost* host, int32_t chartId, const char* label);
  static void dropMenuEntry(StudyHost* host, int32_t chartId, int32_t id);
  static const char* dataFolder(StudyHost* host);
  static int32_t fillTotal(StudyHost* host);
  static int32_t fillRecord(StudyHost* host, int32_t index, HostFillRecord* out);
  static int32_t orderRecord(StudyHost* host, int32_t index, HostOrderRecord* out);
  static HostDateTime shiftTimeZone(StudyHost* host, HostDateTime value, const char* zoneName);
  static const char* chartZoneName(StudyHost* host, int32_t chartId);
  static int32_t securityKind(StudyHost* host);
  static const char* tradeServiceText(StudyHost* host);
  static int32_t symbolDetails(StudyHost* host, const char* symbol, HostSymbolDetails* out, int32_t reserved);
  static int32_t captureChartImage(StudyHost* host, int32_t chartId, const char* path, int32_t width,
                                   int32_t height, int32_t flags);

  Chart chart_;
  std::FILE* out_;
  std::string tag_;
  std::string accountSuffix_;
  StudyHost host_{};
  TimeZones zones_;
  HostDateTime now_ = 0;
  std::int64_t calls_ = 0;
  std::uint32_t renders_ = 0;
  // Reads of the fill total: a call that makes one ran the collector's poll.
  std::int64_t fillTotalReads_ = 0;
  PollBaseline baseline_;
  // While a timed call runs, its lines wait here (see call()).
  bool deferLines_ = false;
  std::string pendingLines_;

  std::string displayName_;
  std::map<std::int32_t, Input> inputs_;
  std::map<std::int32_t, void*> keptPointers_;
  std::map<std::int32_t, std::int32_t> keptIntegers_;
  std::map<std::int32_t, std::string> keptTexts_;
  std::map<std::int32_t, std::string> menus_;
  std::int32_t nextMenuId_ = 1;
  std::deque<Fill> fills_;
  std::deque<Order> orders_;
  std::deque<Capture> captures_;
  std::vector<std::string> log_;
  std::string lastStatus_;
  bool statusShown_ = false;
};

}  // namespace qbhostsim

#endif
