// The scenario a simulated chart plays: the chart itself and a timeline of
// host calls with what the host loads, shows or does before each of them.
// Pure: no platform calls. See scenarios/README.md for the file format.
#ifndef QB_HOSTSIM_SCENARIO_H
#define QB_HOSTSIM_SCENARIO_H

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "study/study_host.h"

namespace qbhostsim {

// A scenario that cannot be played: the message names the member, as
// "steps[2].fills[0].side: ...".
class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// When a fill happened. Chart-local and UTC times are host date-times; "now"
// is the host's real clock at the moment the fill is loaded, plus an offset.
struct TimeSpec {
  enum class Kind { kStepTime, kChartLocal, kUtc, kNow };
  Kind kind = Kind::kStepTime;
  HostDateTime value = 0;        // kChartLocal, kUtc
  std::int64_t offsetMicros = 0;  // kNow
};

struct FillSpec {
  std::optional<std::string> symbol;   // default: the chart's trade symbol (or chart symbol)
  std::optional<std::string> account;  // default: the chart's account
  std::optional<bool> simulated;       // default: the chart's simulation flag
  std::uint64_t internalOrderId = 0;
  TimeSpec time;
  std::int32_t side = 1;
  double quantity = 1;
  double price = 0;
  std::string executionId;
  double positionQuantity = 0;
  std::string note;
  std::string serviceOrderId;
  bool loading = false;  // fillRecord answers 0 for it
};

struct OrderSpec {
  std::uint64_t id = 0;
  std::optional<std::string> symbol;
  std::optional<std::string> account;
  std::optional<bool> simulated;
  std::int32_t typeCode = 0;
  std::string type;
  std::string note;
  double quantity = 1;
  double price1 = 0;
  double price2 = 0;
  std::int32_t status = 0;
  double filled = 0;
  std::uint64_t parent = 0;
  std::uint64_t link = 0;
  std::optional<HostDateTime> lastActivity;  // chart-local; default: the step's time
  std::int32_t side = 1;
  std::uint64_t targetChild = 0;
  std::uint64_t stopChild = 0;
  std::uint64_t oco = 0;
};

struct SymbolDetailsSpec {
  bool offered = true;  // false: symbolDetails answers 0
  HostSymbolDetails details{};
};

struct CaptureOptions {
  enum class Mode { kWrite, kRefuse, kNever, kTruncated };
  Mode mode = Mode::kWrite;
  std::int32_t delayRenders = 0;  // renders that pass before a request is written
  std::int32_t width = 64;
  std::int32_t height = 48;
};

struct KeySpec {
  std::int32_t code = 0;
  bool ctrl = false;
  bool shift = false;
  bool alt = false;
};

struct InputEdit {
  std::int32_t index = 0;
  bool isText = false;
  std::int32_t integer = 0;
  std::string text;
};

// Members of the chart a step may change; absent ones stay.
struct ChartChange {
  std::optional<std::string> account;
  std::optional<std::string> tradeSymbol;
  std::optional<std::string> chartSymbol;
  std::optional<bool> simulated;
  std::optional<bool> replaying;
  std::optional<std::int32_t> feedState;
  std::optional<std::string> timeZone;
};

struct Chart {
  std::int32_t chartId = 1;
  std::string account;
  std::string tradeSymbol;
  std::string chartSymbol;
  bool simulated = true;
  bool replaying = false;
  std::int32_t feedState = 2;
  std::string dataFolder;  // may be given on the command line instead
  std::string timeZone = "UTC";
  std::optional<std::int32_t> securityKind;   // absent: the host does not offer it
  std::optional<std::string> tradeService;    // absent: the host does not offer it
  SymbolDetailsSpec symbolDetails{false, {}};
  CaptureOptions capture;
  bool autoRender = true;         // the chart renders after every call
  bool emptyTextAsUnset = true;   // an empty text input reads as "Unset"
  bool chartWindow = false;       // the host creates a real top-level chart window
  bool refuseSetupWindow = false; // the host vetoes the creation of the study's setup window
  bool timeCalls = false;         // print how long each study call took
  bool callClock = false;         // with timeCalls: also when each call began
  bool pollBaseline = false;      // with timeCalls: the bare work of each poll, timed after it
  HostDateTime startTime = 0;     // chart-local time of the first step
};

// Repeats a step's call until the log or the status shows a text, or a file
// exists (another process on the same data folder signals it is done).
struct UntilSpec {
  std::string logContains;
  std::string statusContains;
  std::string fileExists;  // a Windows path, or an absolute Unix path
  std::int32_t timeoutMs = 30000;
  std::int32_t everyMs = 500;
};

// One thing the trader does in the setup window, played by the host's
// setup driver thread with window messages (scenarios/README.md).
struct SetupAction {
  enum class Kind { kWaitWindow, kType, kPick, kClick, kStatus, kClose, kSleep };
  Kind kind = Kind::kWaitWindow;
  std::string text;        // kWaitWindow: caption part; kType: the text; kPick: entry; kStatus: status part
  std::int32_t control = 0;  // kType, kClick, kPick (default: the account list)
  std::int32_t index = -1;   // kPick by position
  std::int32_t timeoutMs = 15000;  // how long a wait, or a click on a disabled control, may take
};

struct Step {
  std::string label;
  std::optional<HostDateTime> at;  // chart-local; default: the previous step's time
  std::int32_t waitMs = -1;        // real milliseconds before the call; -1: the scenario default
  std::optional<ChartChange> chart;
  bool clearFills = false;
  std::vector<FillSpec> fills;
  bool clearOrders = false;
  std::vector<OrderSpec> orders;  // stop and target children already flattened
  std::vector<std::uint64_t> removeOrders;
  std::optional<SymbolDetailsSpec> symbolDetails;
  std::optional<CaptureOptions> capture;
  std::string menu;  // label of the chart menu entry picked for the call
  std::optional<KeySpec> key;
  std::vector<InputEdit> inputs;
  bool call = true;
  std::int32_t repeat = 1;
  std::optional<UntilSpec> until;
  std::vector<SetupAction> setup;  // played on the driver thread while the step keeps calling
  std::int32_t renders = 0;  // explicit renders after the call
  bool crash = false;        // the host process dies right after this step's calls
  std::optional<bool> refuseSetupWindow;  // from this step on; absent: unchanged
};

struct Scenario {
  Chart chart;
  std::int32_t defaultWaitMs = 0;
  std::vector<Step> steps;
  bool finalCall = true;  // "end": "final" or "exit"
};

// Parses and checks a scenario file's text. Throws ScenarioError.
Scenario parseScenario(const std::string& text);

// "YYYY-MM-DD HH:MM:SS[.ffffff]" (or with "T") as a host date-time.
// Throws ScenarioError naming `where`.
HostDateTime parseHostDateTime(const std::string& text, const std::string& where);

// The index of the step with this label, or the text read as a step number.
// Throws ScenarioError when neither.
std::size_t stepIndex(const Scenario& scenario, const std::string& labelOrNumber);

}  // namespace qbhostsim

#endif
