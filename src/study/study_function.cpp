#include "study/study_function.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "collector/collector_lock.h"
#include "collector/collector_state.h"
#include "collector/fill_phase.h"
#include "collector/instrument_metadata.h"
#include "collector/json_quote.h"
#include "collector/manual_journal.h"
#include "collector/order_phase.h"
#include "storage/durable_file.h"
#include "storage/folder_rules.h"
#include "study/sender_factory.h"
#include "study/study_inputs.h"
#include "support/clock.h"
#include "support/text_encoding.h"
#include "support/timestamp.h"
#include "sync/sync_controller.h"

namespace qbsync {
namespace {

constexpr std::int32_t kCollectorSlot = 1;
constexpr std::int32_t kControllerSlot = 2;
constexpr std::int32_t kSetupMenuKey = 18000;
constexpr std::int32_t kControllerKeyKey = 18001;
constexpr std::int32_t kNoteMenuKey = 18002;
constexpr std::int32_t kReportedControllerMessageKey = 98;
constexpr std::int32_t kReportedMessageKey = 99;

constexpr std::size_t kLogLinesPerCall = 200;
constexpr std::size_t kLogLinesOnTeardown = 8193;
constexpr std::uint64_t kPollIntervalMs = 1000;
constexpr std::uint64_t kMiB = 1048576;
constexpr std::int32_t kKeyN = 78;

const char* const kSetupMenuLabel = "Quorbelle Sync setup";
const char* const kNoteMenuLabel = "Quorbelle Add note (Ctrl+Shift+N)";
const char* const kDescription =
    "Syncs this chart's executions, notes and stop/target observations to Quorbelle. Connect "
    "through Quorbelle Sync setup. Use Quorbelle Add note in the chart shortcut menu, or "
    "Ctrl+Shift+N while the chart has focus, to open the journal.";

// Typed views of the host's kept values.
void*& keptPointer(StudyHost& host, std::int32_t key) { return *host.keptPointer(&host, key); }
std::int32_t& keptInteger(StudyHost& host, std::int32_t key) { return *host.keptInteger(&host, key); }
std::string keptText(StudyHost& host, std::int32_t key) {
  const char* text = host.keptText(&host, key);
  return text ? text : "";
}
void setKeptText(StudyHost& host, std::int32_t key, const std::string& text) {
  host.setKeptText(&host, key, text.c_str());
}

void hostLog(StudyHost& host, const std::string& text, std::int32_t flag) {
  if (host.logMessage) host.logMessage(&host, text.c_str(), flag);
}

CollectorState* collectorState(StudyHost& host) {
  return static_cast<CollectorState*>(keptPointer(host, kCollectorSlot));
}
SyncController* controller(StudyHost& host) {
  return static_cast<SyncController*>(keptPointer(host, kControllerSlot));
}

void destroyCollectorState(StudyHost& host) {
  delete collectorState(host);
  keptPointer(host, kCollectorSlot) = nullptr;
}

void drainInto(StudyHost& host, SyncController& c, std::size_t maxCount) {
  c.drainLog(maxCount, [&host](const std::string& line) { hostLog(host, line, 0); });
}

void destroyController(StudyHost& host) {
  SyncController* c = controller(host);
  if (!c) return;
  c->stop();
  drainInto(host, *c, kLogLinesOnTeardown);
  delete c;
  keptPointer(host, kControllerSlot) = nullptr;
}

// Logs a collector message once per distinct text; repeats stay quiet.
void pauseReport(StudyHost& host, const std::string& message, CollectorState* state) {
  if (message != keptText(host, kReportedMessageKey)) {
    if (!message.empty()) hostLog(host, "Quorbelle collector: " + message, 1);
    setKeptText(host, kReportedMessageKey, message);
  }
  if (state) state->lastPauseMessage = message;
}

std::string tradeSymbolRaw(StudyHost& host) {
  const char* trade = host.tradeSymbolText;
  return (trade && *trade) ? trade : (host.chartSymbolText ? host.chartSymbolText : "");
}

std::string controllerKey(const std::string& account, const std::string& symbol, bool simulation,
                          bool replay) {
  return jsonQuote(account) + jsonQuote(symbol) + (simulation ? "|sim" : "|live") +
         (replay ? "|replay" : "|realtime");
}

void declarationCall(StudyHost& host) {
  if (host.setDisplayName) host.setDisplayName(&host, "Quorbelle Sync");
  if (host.setDescriptionText) host.setDescriptionText(&host, kDescription);
  host.wantKeyEvents = 1;
  host.wantModifierKeys = 1;
  host.updateAlways = 1;
  host.receiveMenuEvents = 1;
  host.keepLoadedOnHide = 1;
  host.autoLoop = 0;
  declareStudyInputs(host);
}

void finalCall(StudyHost& host) {
  for (std::int32_t key : {kSetupMenuKey, kNoteMenuKey}) {
    std::int32_t& id = keptInteger(host, key);
    if (id > 0 && host.dropMenuEntry) host.dropMenuEntry(&host, host.chartId, id);
    id = 0;
  }
  destroyCollectorState(host);
  destroyController(host);
}

// Steps up to the status and the mirrored inputs; returns the snapshot for
// the collector part. Throws; the caller reports.
CollectorSnapshot bindController(StudyHost& host, CollectorState*& stateForReport) {
  std::int32_t& setupMenu = keptInteger(host, kSetupMenuKey);
  std::int32_t& noteMenu = keptInteger(host, kNoteMenuKey);
  if (setupMenu <= 0 && host.addMenuEntry) setupMenu = host.addMenuEntry(&host, host.chartId, kSetupMenuLabel);
  if (noteMenu <= 0 && host.addMenuEntry) noteMenu = host.addMenuEntry(&host, host.chartId, kNoteMenuLabel);

  const bool shortcutEnabled = inputYes(host, kInputNoteShortcut);
  host.wantKeyEvents = shortcutEnabled ? 1 : 0;
  host.wantModifierKeys = shortcutEnabled ? 1 : 0;

  const std::string account = decodeHostText(host.accountText);
  const std::string symbol = decodeHostText(tradeSymbolRaw(host).c_str());
  const bool simulation = host.simulated != 0;
  const bool replay = host.replaying != 0;
  const std::string key = controllerKey(account, symbol, simulation, replay);

  SyncController* c = controller(host);
  if (c && keptText(host, kControllerKeyKey) != key) {
    // The old scope's lock goes before the new controller takes its own.
    destroyCollectorState(host);
    stateForReport = nullptr;
    destroyController(host);
    c = nullptr;
  }
  const bool allowSync = inputYes(host, kInputAllowSync);
  if (!c) {
    const nlohmann::json metadata = captureInstrumentMetadata(host, symbol);
    const char* dataFolder = host.dataFolder ? host.dataFolder(&host) : "";
    c = new SyncController(account, symbol, simulation, replay, dataFolder ? dataFolder : "", "", metadata);
    keptPointer(host, kControllerSlot) = c;
    setKeptText(host, kControllerKeyKey, key);
    c->setAllowSync(allowSync);
    c->openSetupWindow(host.chartWindow, true, false);
  }
  c->setAllowSync(allowSync);
  c->checkInstrumentMetadata(captureInstrumentMetadata(host, symbol));

  if (setupMenu > 0 && setupMenu == host.menuPick) c->openSetupWindow(host.chartWindow, false, false);
  const bool shortcut = shortcutEnabled && host.keyPressed == kKeyN && host.ctrlHeld && host.shiftHeld &&
                        !host.altHeld;
  if ((noteMenu > 0 && noteMenu == host.menuPick) || shortcut) c->openSetupWindow(host.chartWindow, false, true);

  CollectorSnapshot snapshot = c->collectorSnapshot();
  drainInto(host, *c, kLogLinesPerCall);
  // The controller's message (a window failure) is reported once while it
  // stands, even when a collector failure reported after it holds the last
  // reported text; otherwise the two would alternate on every call.
  if (snapshot.collectorMessage.empty()) {
    if (!keptText(host, kReportedControllerMessageKey).empty()) setKeptText(host, kReportedControllerMessageKey, "");
  } else if (snapshot.collectorMessage != keptText(host, kReportedControllerMessageKey)) {
    setKeptText(host, kReportedControllerMessageKey, snapshot.collectorMessage);
    pauseReport(host, snapshot.collectorMessage, stateForReport);
  }
  setInputText(host, kInputStatus, c->statusLine());

  setInputText(host, kInputOutboxRoot, snapshot.outboxRoot);
  setInputText(host, kInputSessionId, snapshot.sessionId);
  setInputText(host, kInputSourceAccount, snapshot.sourceAccount);
  setInputText(host, kInputSourceSymbol, snapshot.sourceSymbol);
  setInputInteger(host, kInputCaptureOrders, 1);
  setInputInteger(host, kInputCaptureFreshFills, snapshot.captureFreshFills ? 1 : 0);
  setInputInteger(host, kInputAllowLocalFillIds, snapshot.allowLocalFillIds ? 1 : 0);
  setInputInteger(host, kInputAllowReplay, snapshot.allowReplay ? 1 : 0);
  setInputInteger(host, kInputNoteRevision, snapshot.pendingNoteRevision);
  setInputText(host, kInputNoteText, snapshot.pendingNoteText);
  setInputInteger(host, kInputCaptureRevision, snapshot.pendingCaptureRevision);
  return snapshot;
}

// Makes sure a collector state for the current scope exists and holds its lock.
CollectorState& bindCollectorState(StudyHost& host, const std::string& account, const std::string& symbol,
                                   const std::string& sessionId, bool simulation, bool replay) {
  const std::string fragment = sourceFragment(account, symbol, sessionId, simulation, replay);
  const std::string identity = fragment + "|" + inputRawText(host, kInputOutboxRoot);
  CollectorState* state = collectorState(host);
  if (state && state->scopeIdentity != identity) {
    destroyCollectorState(host);
    state = nullptr;
  }
  if (!state) {
    state = new CollectorState();
    keptPointer(host, kCollectorSlot) = state;
    // A state whose set-up fails below stays with this identity, so the lock
    // message repeats until the scope changes or collection is switched off.
    state->scopeIdentity = identity;
    state->sourceFragment = fragment;
    state->scopeDigest = state->digest.sha256Hex(fragment);
    const std::string root = validateOutboxRoot(inputRawText(host, kInputOutboxRoot));
    state->outboxDir = root + "\\" + state->scopeDigest;
    ensureDirectory(state->outboxDir);
    if (!openCollectorLock(*state)) {
      throw std::runtime_error("Another collector owns this source scope, or the scope is inaccessible.");
    }
    hostLog(host, "Quorbelle collector outbox: " + state->outboxDir, 0);
  }
  if (!state->lockHeld()) {
    throw std::runtime_error(
        "Collector lock unavailable. Disable and re-enable after resolving the reported setup error.");
  }
  return *state;
}

void collect(StudyHost& host, SyncController& c, const CollectorSnapshot& snapshot) {
  const std::string account = decodeHostText(host.accountText);
  const std::string symbol = decodeHostText(tradeSymbolRaw(host).c_str());
  const std::string sessionId = decodeHostText(inputRawText(host, kInputSessionId));
  if (account.empty() || symbol.empty() || sessionId.empty() || sessionId.size() > 128) {
    throw std::runtime_error("Account, symbol, and a source session ID of at most 128 bytes are required.");
  }
  if (account != decodeHostText(inputRawText(host, kInputSourceAccount)) ||
      symbol != decodeHostText(inputRawText(host, kInputSourceSymbol))) {
    throw std::runtime_error("Chart account/symbol differs from the explicit expected binding. Collection paused.");
  }
  const bool simulation = host.simulated != 0;
  const bool replay = host.replaying != 0;
  if (replay) {
    if (!inputYes(host, kInputAllowReplay)) {
      throw std::runtime_error("Replay detected; collection paused until explicit replay opt-in.");
    }
    if (!simulation) throw std::runtime_error("Replay collection requires Sierra trade simulation mode.");
  }

  CollectorState& state = bindCollectorState(host, account, symbol, sessionId, simulation, replay);
  c.startSenderIfAllowed(state.outboxDir, senderFactory());

  const std::uint64_t now = clock().tickMs();
  if (state.polledOnce && now - state.lastPollTickMs < kPollIntervalMs) return;
  state.lastPollTickMs = now;
  state.polledOnce = true;

  state.budget = static_cast<std::uint64_t>(std::max<std::int32_t>(inputInteger(host, kInputMaxOutboxMib), 0)) * kMiB;
  state.scanOutbox();
  if (state.outboxSize >= state.budget) {
    throw std::runtime_error(
        "Retained outbox budget reached. Collection paused; increase capacity or archive the entire completed "
        "session before starting a new one.");
  }

  try {
    finalizeCaptures(state);
  } catch (const std::exception& e) {
    state.captureWarning = std::string("Screenshot finalization pending; fill collection continues. ") + e.what();
  } catch (...) {
    state.captureWarning = "Screenshot finalization pending after an unexpected error; fill collection continues.";
  }

  FillPhaseInputs fills;
  fills.account = account;
  fills.symbol = symbol;
  fills.simulation = simulation;
  fills.replay = replay;
  fills.metadataText = captureInstrumentMetadata(host, symbol).dump();
  fills.allowLocalFillIds = inputYes(host, kInputAllowLocalFillIds);
  fills.maxFills = inputInteger(host, kInputMaxFillsPerPoll);
  fills.captureFreshFills = inputYes(host, kInputCaptureFreshFills);
  const std::optional<CaptureCandidate> candidate = runFillPhase(host, state, fills);

  host.liveTradeFlag = simulation ? 0 : 1;

  if (inputYes(host, kInputCaptureOrders)) runOrderPhase(host, state, account, symbol, simulation);

  const std::string orderIdText = decodeHostText(inputRawText(host, kInputOrderIdText));
  runNoteStep(state, inputInteger(host, kInputNoteRevision), decodeHostText(inputRawText(host, kInputNoteText)),
              orderIdText, [&c](std::int32_t revision) { c.acknowledgeNote(revision); });
  runCaptureStep(host, state, inputInteger(host, kInputCaptureRevision), orderIdText, candidate,
                 [&c](std::int32_t revision) { c.acknowledgeCapture(revision); });

  if (!state.captureWarning.empty()) {
    pauseReport(host, state.captureWarning, &state);
  } else if (snapshot.collectorMessage.empty() && !keptText(host, kReportedMessageKey).empty()) {
    // While the controller reports a message (for example a window failure)
    // that message stands; announcing a resumption would alternate with it.
    hostLog(host, "Quorbelle collector resumed successfully.", 0);
    setKeptText(host, kReportedMessageKey, "");
    state.lastPauseMessage.clear();
  }
}

void ordinaryCall(StudyHost& host) {
  CollectorState* stateForReport = collectorState(host);
  CollectorSnapshot snapshot;
  try {
    snapshot = bindController(host, stateForReport);
  } catch (const std::exception& e) {
    setInputText(host, kInputStatus, e.what());
    pauseReport(host, e.what(), stateForReport);
    return;
  } catch (...) {
    const std::string message = "Could not initialize Quorbelle Sync. Open setup to review the connection.";
    setInputText(host, kInputStatus, message);
    pauseReport(host, message, stateForReport);
    return;
  }

  try {
    if (!snapshot.collectionActive) {
      destroyCollectorState(host);
      return;
    }
    collect(host, *controller(host), snapshot);
  } catch (const std::exception& e) {
    pauseReport(host, e.what(), collectorState(host));
  } catch (...) {
    pauseReport(host, "Unexpected error; collection paused. Check the source settings and outbox.",
                collectorState(host));
  }
}

}  // namespace

void runStudyFunction(StudyHost* host) noexcept {
  if (!host) return;
  try {
    if (host->isDefaultsCall) {
      declarationCall(*host);
    } else if (host->isFinalCall) {
      finalCall(*host);
    } else {
      ordinaryCall(*host);
    }
  } catch (...) {
    // Nothing may cross back into the host; both guards already report.
  }
}

}  // namespace qbsync
