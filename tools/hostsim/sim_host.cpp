#include "sim_host.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "png_image.h"
#include "window_refusal.h"

namespace qbhostsim {
namespace {

constexpr std::int32_t kStatusInput = 15;

// One printed line per host event: line breaks inside a text are shown as \n.
std::string oneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out.push_back(c);
  }
  return out;
}

std::string inputValueText(const StudyInput& in, const std::string& text) {
  if (in.kind == QB_INPUT_YES_NO) return in.integerValue ? "Yes" : "No";
  if (in.kind == QB_INPUT_INTEGER) return std::to_string(in.integerValue);
  return "\"" + oneLine(text) + "\"";
}

bool writeWholeFile(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == bytes.size();
}

LRESULT CALLBACK chartProc(HWND w, UINT message, WPARAM wp, LPARAM lp) {
  // Closing the chart is the host's business, not the window's own.
  if (message == WM_CLOSE) return 0;
  return DefWindowProcW(w, message, wp, lp);
}

// A plain top-level window standing for the chart, on the calling (chart) thread.
HWND createChartWindow(std::int32_t chartId) {
  HINSTANCE module = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &chartProc;
  wc.hInstance = module;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  wc.lpszClassName = L"QbHostSimChart";
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw std::runtime_error("cannot register the chart window class");
  }
  const std::wstring caption = L"Chart #" + std::to_wstring(chartId);
  HWND w = CreateWindowExW(0, L"QbHostSimChart", caption.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 1000, 700,
                           nullptr, nullptr, module, nullptr);
  if (!w) throw std::runtime_error("cannot create the chart window (error " + std::to_string(GetLastError()) + ")");
  return w;
}

}  // namespace

SimHost::SimHost(const Chart& chart, std::FILE* out, std::string tag, std::string accountSuffix)
    : chart_(chart), out_(out), tag_(std::move(tag)), accountSuffix_(std::move(accountSuffix)) {
  chart_.account += accountSuffix_;
  zones_.check(chart_.timeZone);
  now_ = chart_.startTime ? chart_.startTime : zones_.fromUtc(TimeZones::utcNow(), chart_.timeZone);
  host_.structSize = sizeof(StudyHost);
  host_.interfaceVersion = QB_STUDY_HOST_VERSION;
  host_.hostContext = this;
  host_.chartId = chart_.chartId;
  bindFunctions();
  refreshChart();
  setWindowRefusal(chart_.refuseSetupWindow);
  if (chart_.chartWindow) {
    host_.chartWindow = createChartWindow(chart_.chartId);
    line("WINDOW", "chart " + std::to_string(reinterpret_cast<std::uintptr_t>(host_.chartWindow)));
  }
}

SimHost::~SimHost() {
  if (host_.chartWindow) DestroyWindow(static_cast<HWND>(host_.chartWindow));
}

void SimHost::wait(std::uint32_t ms) {
  if (!host_.chartWindow) {
    if (ms > 0) Sleep(ms);
    return;
  }
  const ULONGLONG deadline = GetTickCount64() + ms;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

void SimHost::bindFunctions() {
  host_.setDisplayName = &SimHost::setDisplayName;
  host_.setDescriptionText = &SimHost::setDescriptionText;
  host_.inputSlot = &SimHost::inputSlot;
  host_.declareInput = &SimHost::declareInput;
  host_.setInputInteger = &SimHost::setInputInteger;
  host_.setInputText = &SimHost::setInputText;
  host_.keptPointer = &SimHost::keptPointer;
  host_.keptInteger = &SimHost::keptInteger;
  host_.keptText = &SimHost::keptText;
  host_.setKeptText = &SimHost::setKeptText;
  host_.logMessage = &SimHost::logMessage;
  host_.addMenuEntry = &SimHost::addMenuEntry;
  host_.dropMenuEntry = &SimHost::dropMenuEntry;
  host_.dataFolder = &SimHost::dataFolder;
  host_.fillTotal = &SimHost::fillTotal;
  host_.fillRecord = &SimHost::fillRecord;
  host_.orderRecord = &SimHost::orderRecord;
  host_.shiftTimeZone = &SimHost::shiftTimeZone;
  host_.chartZoneName = &SimHost::chartZoneName;
  host_.symbolDetails = &SimHost::symbolDetails;
  host_.captureChartImage = &SimHost::captureChartImage;
}

void SimHost::refreshChart() {
  host_.accountText = chart_.account.c_str();
  host_.tradeSymbolText = chart_.tradeSymbol.c_str();
  host_.chartSymbolText = chart_.chartSymbol.c_str();
  host_.simulated = chart_.simulated ? 1 : 0;
  host_.replaying = chart_.replaying ? 1 : 0;
  host_.feedState = chart_.feedState;
  host_.securityKind = chart_.securityKind ? &SimHost::securityKind : nullptr;
  host_.tradeServiceText = chart_.tradeService ? &SimHost::tradeServiceText : nullptr;
}

void SimHost::refreshView(Input& input) {
  if (input.view.kind == QB_INPUT_TEXT) {
    input.view.text = (input.text.empty() && chart_.emptyTextAsUnset) ? "Unset" : input.text.c_str();
  } else {
    input.view.text = nullptr;
  }
}

void SimHost::line(const std::string& kind, const std::string& text) {
  const std::string shown = "HOSTSIM " + tag_ + kind + " " + oneLine(text) + "\n";
  if (deferLines_) {
    pendingLines_ += shown;
    return;
  }
  std::fwrite(shown.data(), 1, shown.size(), out_);
  std::fflush(out_);
}

void SimHost::writePendingLines() {
  deferLines_ = false;
  if (pendingLines_.empty()) return;
  std::fwrite(pendingLines_.data(), 1, pendingLines_.size(), out_);
  std::fflush(out_);
  pendingLines_.clear();
}

std::string SimHost::tradeSymbol() const { return chart_.tradeSymbol.empty() ? chart_.chartSymbol : chart_.tradeSymbol; }

HostDateTime SimHost::fillTime(const TimeSpec& t) {
  switch (t.kind) {
    case TimeSpec::Kind::kStepTime: return now_;
    case TimeSpec::Kind::kChartLocal: return t.value;
    case TimeSpec::Kind::kUtc: return zones_.fromUtc(t.value, chart_.timeZone);
    case TimeSpec::Kind::kNow: return zones_.fromUtc(TimeZones::utcNow() + t.offsetMicros, chart_.timeZone);
  }
  return now_;
}

void SimHost::applyState(const Step& step) {
  if (step.chart) {
    const ChartChange& c = *step.chart;
    if (c.timeZone) {
      zones_.check(*c.timeZone);
      chart_.timeZone = *c.timeZone;
    }
    if (c.account) chart_.account = *c.account + accountSuffix_;
    if (c.tradeSymbol) chart_.tradeSymbol = *c.tradeSymbol;
    if (c.chartSymbol) chart_.chartSymbol = *c.chartSymbol;
    if (c.simulated) chart_.simulated = *c.simulated;
    if (c.replaying) chart_.replaying = *c.replaying;
    if (c.feedState) chart_.feedState = *c.feedState;
    refreshChart();
  }
  if (step.symbolDetails) chart_.symbolDetails = *step.symbolDetails;
  if (step.capture) chart_.capture = *step.capture;
  if (step.refuseSetupWindow) setWindowRefusal(*step.refuseSetupWindow);
  if (step.clearFills) fills_.clear();
  for (const FillSpec& f : step.fills) {
    Fill& fill = fills_.emplace_back();
    fill.symbol = f.symbol.value_or(tradeSymbol());
    fill.account = f.account ? *f.account + accountSuffix_ : chart_.account;
    fill.executionId = f.executionId;
    fill.note = f.note;
    fill.serviceOrderId = f.serviceOrderId;
    fill.loading = f.loading;
    HostFillRecord& r = fill.record;
    r.simulated = f.simulated.value_or(chart_.simulated) ? 1 : 0;
    r.internalOrderId = f.internalOrderId;
    r.fillTime = fillTime(f.time);
    r.side = f.side;
    r.quantity = f.quantity;
    r.price = f.price;
    r.positionQuantity = f.positionQuantity;
  }
  if (step.clearOrders) orders_.clear();
  for (std::uint64_t id : step.removeOrders) {
    std::erase_if(orders_, [id](const Order& o) { return o.record.internalOrderId == id; });
  }
  for (const OrderSpec& o : step.orders) {
    auto it = std::find_if(orders_.begin(), orders_.end(),
                           [&o](const Order& existing) { return existing.record.internalOrderId == o.id; });
    Order& order = it != orders_.end() ? *it : orders_.emplace_back();
    order.symbol = o.symbol.value_or(tradeSymbol());
    order.account = o.account ? *o.account + accountSuffix_ : chart_.account;
    order.type = o.type;
    order.note = o.note;
    HostOrderRecord& r = order.record;
    r = HostOrderRecord{};
    r.internalOrderId = o.id;
    r.simulated = o.simulated.value_or(chart_.simulated) ? 1 : 0;
    r.orderTypeCode = o.typeCode;
    r.quantity = o.quantity;
    r.price1 = o.price1;
    r.price2 = o.price2;
    r.statusCode = o.status;
    r.filledQuantity = o.filled;
    r.parentInternalOrderId = o.parent;
    r.linkId = o.link;
    r.lastActivityTime = o.lastActivity.value_or(now_);
    r.side = o.side;
    r.targetChildInternalOrderId = o.targetChild;
    r.stopChildInternalOrderId = o.stopChild;
    r.ocoSiblingInternalOrderId = o.oco;
  }
  for (const InputEdit& e : step.inputs) {
    auto it = inputs_.find(e.index);
    if (it == inputs_.end()) {
      line("ERROR", "input " + std::to_string(e.index) + " was not declared; edit ignored");
      continue;
    }
    Input& in = it->second;
    // The host's input dialog keeps values within the declared kind and limits.
    if (in.view.kind == QB_INPUT_TEXT) {
      in.text = e.isText ? e.text : std::to_string(e.integer);
    } else if (e.isText) {
      line("ERROR", "input " + std::to_string(e.index) + " takes a number; edit ignored");
      continue;
    } else if (in.view.kind == QB_INPUT_YES_NO) {
      in.view.integerValue = e.integer ? 1 : 0;
    } else {
      std::int32_t v = e.integer;
      if (in.view.minimum <= in.view.maximum) v = std::clamp(v, in.view.minimum, in.view.maximum);
      in.view.integerValue = v;
    }
    refreshView(in);
    line("EDIT", std::to_string(e.index) + " = " + inputValueText(in.view, in.text));
  }
}

void SimHost::prepareEvents(const Step& step) {
  host_.menuPick = 0;
  if (!step.menu.empty()) {
    for (const auto& [id, label] : menus_) {
      if (label == step.menu) host_.menuPick = id;
    }
    line("MENU", host_.menuPick ? "PICK " + std::to_string(host_.menuPick) + " " + step.menu : "MISSING " + step.menu);
  }
  // Key fields are filled only while the study asks for key events.
  const bool keys = step.key && host_.wantKeyEvents;
  const bool modifiers = step.key && host_.wantModifierKeys;
  host_.keyPressed = keys ? step.key->code : 0;
  host_.ctrlHeld = modifiers && step.key->ctrl ? 1 : 0;
  host_.shiftHeld = modifiers && step.key->shift ? 1 : 0;
  host_.altHeld = modifiers && step.key->alt ? 1 : 0;
  if (step.key) line("KEY", std::to_string(step.key->code) + (keys ? "" : " (not delivered)"));
}

void SimHost::call(StudyFunction study, bool defaults, bool final) {
  host_.isDefaultsCall = defaults ? 1 : 0;
  host_.isFinalCall = final ? 1 : 0;
  ++calls_;
  const std::int64_t fillTotalReads = fillTotalReads_;
  LARGE_INTEGER frequency{}, before{}, after{};
  QueryPerformanceFrequency(&frequency);
  // A timed call's lines are written after it: a real host's message log is
  // an append in memory, while writing and flushing each line to the console
  // would be counted as the study's time.
  deferLines_ = chart_.timeCalls;
  QueryPerformanceCounter(&before);
  study(&host_);
  QueryPerformanceCounter(&after);
  writePendingLines();
  const bool poll = !defaults && !final && fillTotalReads_ != fillTotalReads;
  if (chart_.timeCalls) {
    const double ms = static_cast<double>(after.QuadPart - before.QuadPart) * 1000.0 /
                      static_cast<double>(frequency.QuadPart);
    char text[96];
    std::snprintf(text, sizeof text, "%lld %.1f ms%s", static_cast<long long>(calls_), ms,
                  defaults ? " (declaration)" : final ? " (final)" : poll ? " (poll)" : "");
    std::string shown = text;
    if (chart_.callClock) {
      // Milliseconds since the host's first call, so a reader can tell which
      // calls fell on the study's once-a-second poll. One clock for the
      // process: the charts of a workspace read the same time line.
      static LARGE_INTEGER clockStart{};
      if (clockStart.QuadPart == 0) clockStart = before;
      std::snprintf(text, sizeof text, " at %.1f", static_cast<double>(before.QuadPart - clockStart.QuadPart) *
                                                       1000.0 / static_cast<double>(frequency.QuadPart));
      shown += text;
    }
    line("CALL", shown);
    PollBaseline::Result bare;
    if (poll && chart_.pollBaseline && baseline_.measure(host_, bare)) {
      std::snprintf(text, sizeof text, "%lld %.2f ms records %zu", static_cast<long long>(calls_), bare.ms,
                    bare.records);
      line("POLL_BASELINE", text);
    }
  }
  host_.isDefaultsCall = 0;
  host_.isFinalCall = 0;
  host_.menuPick = 0;
  host_.keyPressed = 0;
  host_.ctrlHeld = host_.shiftHeld = host_.altHeld = 0;
  const std::string status = statusText();
  if (!defaults && (!statusShown_ || status != lastStatus_)) {
    line("STATUS", status);
    lastStatus_ = status;
    statusShown_ = true;
  }
  if (chart_.autoRender && !defaults && !final) render();
}

void SimHost::render() {
  ++renders_;
  for (auto it = captures_.begin(); it != captures_.end();) {
    if (it->mode == CaptureOptions::Mode::kNever) {
      ++it;
      continue;
    }
    if (it->rendersLeft > 0) {
      --it->rendersLeft;
      ++it;
      continue;
    }
    std::string png = makePng(chart_.capture.width, chart_.capture.height, renders_);
    if (it->mode == CaptureOptions::Mode::kTruncated) png.resize(png.size() - 12);
    if (writeWholeFile(it->path, png)) {
      line("CAPTURE", "WROTE " + it->path + " " + std::to_string(png.size()));
    } else {
      line("CAPTURE", "WRITE-FAILED " + it->path + " error " + std::to_string(GetLastError()));
    }
    it = captures_.erase(it);
  }
}

std::string SimHost::statusText() const {
  auto it = inputs_.find(kStatusInput);
  return it == inputs_.end() ? std::string() : it->second.text;
}

bool SimHost::logSince(std::size_t from, const std::string& text) const {
  for (std::size_t i = from; i < log_.size(); ++i) {
    if (log_[i].find(text) != std::string::npos) return true;
  }
  return false;
}

void SimHost::printInputs() {
  if (!displayName_.empty()) line("STUDY", displayName_);
  for (auto& [index, in] : inputs_) {
    line("INPUT", std::to_string(index) + " " + inputValueText(in.view, in.text) + " | " + in.label);
  }
}

// --- StudyHost functions ---

void SimHost::setDisplayName(StudyHost* host, const char* text) {
  self(host).displayName_ = text ? text : "";
  self(host).line("NAME", self(host).displayName_);
}

void SimHost::setDescriptionText(StudyHost* host, const char* text) {
  self(host).line("DESCRIPTION", text ? text : "");
}

StudyInput* SimHost::inputSlot(StudyHost* host, int32_t index) {
  auto& inputs = self(host).inputs_;
  auto it = inputs.find(index);
  return it == inputs.end() ? nullptr : &it->second.view;
}

void SimHost::declareInput(StudyHost* host, int32_t index, const char* label, int32_t kind, int32_t integerDefault,
                           int32_t minimum, int32_t maximum, const char* textDefault) {
  SimHost& h = self(host);
  // A study declared again (on the next declaration call) keeps the values
  // the trader already has, as a host does for a study in a saved chart.
  auto [it, added] = h.inputs_.try_emplace(index);
  Input& in = it->second;
  in.label = label ? label : "";
  in.view.label = in.label.c_str();
  in.view.kind = kind;
  in.view.minimum = minimum;
  in.view.maximum = maximum;
  if (added) {
    in.view.integerValue = integerDefault;
    in.text = textDefault ? textDefault : "";
  }
  h.refreshView(in);
  h.line("DECLARE", std::to_string(index) + " " + inputValueText(in.view, in.text) + " | " + in.label);
}

void SimHost::setInputInteger(StudyHost* host, int32_t index, int32_t value) {
  auto& inputs = self(host).inputs_;
  auto it = inputs.find(index);
  if (it != inputs.end()) it->second.view.integerValue = value;
}

void SimHost::setInputText(StudyHost* host, int32_t index, const char* text) {
  SimHost& h = self(host);
  auto it = h.inputs_.find(index);
  if (it == h.inputs_.end()) return;
  it->second.text = text ? text : "";
  h.refreshView(it->second);
}

void** SimHost::keptPointer(StudyHost* host, int32_t key) { return &self(host).keptPointers_[key]; }

int32_t* SimHost::keptInteger(StudyHost* host, int32_t key) { return &self(host).keptIntegers_[key]; }

const char* SimHost::keptText(StudyHost* host, int32_t key) { return self(host).keptTexts_[key].c_str(); }

void SimHost::setKeptText(StudyHost* host, int32_t key, const char* text) {
  self(host).keptTexts_[key] = text ? text : "";
}

void SimHost::logMessage(StudyHost* host, const char* text, int32_t flag) {
  SimHost& h = self(host);
  const std::string message = text ? text : "";
  h.log_.push_back(message);
  h.line("LOG", std::to_string(flag) + " " + message);
  if (h.chart_.pollBaseline) h.baseline_.noteLog(message);
}

int32_t SimHost::addMenuEntry(StudyHost* host, int32_t chartId, const char* label) {
  SimHost& h = self(host);
  if (chartId != h.chart_.chartId) return 0;
  const std::int32_t id = h.nextMenuId_++;
  h.menus_[id] = label ? label : "";
  h.line("MENU", "ADD " + std::to_string(id) + " " + h.menus_[id]);
  return id;
}

void SimHost::dropMenuEntry(StudyHost* host, int32_t chartId, int32_t id) {
  SimHost& h = self(host);
  if (chartId == h.chart_.chartId && h.menus_.erase(id)) h.line("MENU", "DROP " + std::to_string(id));
}

const char* SimHost::dataFolder(StudyHost* host) { return self(host).chart_.dataFolder.c_str(); }

int32_t SimHost::fillTotal(StudyHost* host) {
  SimHost& h = self(host);
  ++h.fillTotalReads_;
  return static_cast<int32_t>(h.fills_.size());
}

int32_t SimHost::fillRecord(StudyHost* host, int32_t index, HostFillRecord* out) {
  auto& fills = self(host).fills_;
  if (!out || index < 0 || static_cast<std::size_t>(index) >= fills.size()) return 0;
  const Fill& f = fills[index];
  if (f.loading) return 0;
  *out = f.record;
  out->symbol = f.symbol.c_str();
  out->tradeAccount = f.account.c_str();
  out->serviceExecutionId = f.executionId.c_str();
  out->note = f.note.c_str();
  out->serviceOrderId = f.serviceOrderId.c_str();
  return 1;
}

int32_t SimHost::orderRecord(StudyHost* host, int32_t index, HostOrderRecord* out) {
  auto& orders = self(host).orders_;
  if (!out || index < 0 || static_cast<std::size_t>(index) >= orders.size()) return -1;
  const Order& o = orders[index];
  *out = o.record;
  out->symbol = o.symbol.c_str();
  out->tradeAccount = o.account.c_str();
  out->orderType = o.type.c_str();
  out->note = o.note.c_str();
  return 1;
}

HostDateTime SimHost::shiftTimeZone(StudyHost* host, HostDateTime value, const char* zoneName) {
  SimHost& h = self(host);
  try {
    return h.zones_.shift(value, h.chart_.timeZone, zoneName ? zoneName : "");
  } catch (const std::exception& e) {
    h.line("ERROR", e.what());
    return value;
  }
}

const char* SimHost::chartZoneName(StudyHost* host, int32_t chartId) { return self(host).chart_.timeZone.c_str(); }

int32_t SimHost::securityKind(StudyHost* host) { return self(host).chart_.securityKind.value_or(0); }

const char* SimHost::tradeServiceText(StudyHost* host) {
  const auto& service = self(host).chart_.tradeService;
  return service ? service->c_str() : "";
}

int32_t SimHost::symbolDetails(StudyHost* host, const char* symbol, HostSymbolDetails* out, int32_t reserved) {
  const SymbolDetailsSpec& d = self(host).chart_.symbolDetails;
  if (!d.offered || !out) return 0;
  *out = d.details;
  return 1;
}

int32_t SimHost::captureChartImage(StudyHost* host, int32_t chartId, const char* path, int32_t width, int32_t height,
                                   int32_t flags) {
  SimHost& h = self(host);
  const std::string target = path ? path : "";
  if (chartId != h.chart_.chartId || target.empty() || h.chart_.capture.mode == CaptureOptions::Mode::kRefuse) {
    h.line("CAPTURE", "REFUSED " + target);
    return 0;
  }
  h.captures_.push_back({target, h.chart_.capture.delayRenders, h.chart_.capture.mode});
  h.line("CAPTURE", "REQUEST " + target);
  return 1;
}

}  // namespace qbhostsim
