#include "sync/sync_controller.h"

#include <windows.h>

#include <limits>
#include <stdexcept>
#include <utility>

#include "instruments/symbol_classification.h"
#include "settings/message_for_code.h"
#include "settings/saved_state.h"
#include "settings/settings_file.h"
#include "setup/setup_window.h"
#include "storage/durable_file.h"
#include "storage/file_api.h"
#include "storage/folder_rules.h"
#include "support/identifier.h"
#include "support/log_excerpt.h"
#include "support/printable_text.h"
#include "sync/sync_sender.h"

namespace qbsync {
namespace {

const char* const kUnreadableState =
    "Saved Quorbelle Sync state cannot be read. Restore the original setup under its Windows user; state is "
    "retained and sync is stopped.";
const char* const kLockRefused =
    "Another Quorbelle Sync study owns this account and symbol, or its saved setup is inaccessible.";
const char* const kPausedSuffix = " Saved source and queued records are retained; sync is paused.";

constexpr std::size_t kMaxPendingNotes = 64;
constexpr std::size_t kMaxPendingCaptures = 10;
constexpr std::size_t kMaxNoteBytes = 12000;

void zeroBytes(std::string& text) {
  volatile char* p = text.data();
  for (std::size_t i = 0; i < text.size(); ++i) p[i] = 0;
  text.clear();
}

// Closes the source lock unless construction completes.
struct LockGuard {
  HANDLE handle = INVALID_HANDLE_VALUE;
  ~LockGuard() {
    if (handle != INVALID_HANDLE_VALUE) fileApi().closeHandle(handle);
  }
  HANDLE release() { return std::exchange(handle, INVALID_HANDLE_VALUE); }
};

}  // namespace

SyncController::SyncController(const std::string& account, const std::string& symbol, bool simulation,
                               bool replay, const char* hostDataFolder, const std::string& sourceHint,
                               const nlohmann::json& instrumentMetadata)
    : source_hint_(sourceHint), instrument_metadata_(instrumentMetadata),
      log_queue_(std::make_shared<NativeLogQueue>()) {
  settings_.source_account = account;
  settings_.source_symbol = symbol;
  settings_.simulation = simulation;
  settings_.replay = replay;

  const char* mode = replay ? "; replay" : (simulation ? "; simulation" : "; live");
  log("Message logging enabled; source=" + logExcerpt(account, 128) + "; symbol=" + logExcerpt(symbol, 128) + mode,
      false);

  const std::string dataFolder = validateDataFolder(hostDataFolder, kDataFolderMaxLength);
  sync_root_ = validateOutboxRoot((dataFolder + "\\QuorbelleSync").c_str());
  ensureDirectory(sync_root_ + "\\settings");
  ensureDirectory(sync_root_ + "\\outbox");
  settings_path_ = sync_root_ + "\\settings\\" + settingsFileKey(account, symbol, simulation, replay) + ".bin";

  LockGuard lock;
  lock.handle = fileApi().createFileA((settings_path_ + ".lock").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  if (lock.handle == INVALID_HANDLE_VALUE) throw std::runtime_error(kLockRefused);

  const InstrumentClass instrument = classifySourceInstrument(symbol, source_hint_);
  settings_.asset_type = instrument.asset_type;
  settings_.api_symbol = instrument.api_symbol;
  settings_.native_instrument_protocol = instrument_metadata_.is_object();
  settings_.session_id = newIdentifier();

  if (pathExists(settings_path_)) {
    try {
      nlohmann::json document = loadSettingsFile(settings_path_);
      SavedState saved = adoptSavedDocument(document, account, symbol, simulation, replay);
      zeroSecretIn(document);
      settings_ = std::move(saved.settings);
      account_secret_ = std::move(saved.secret);
      allow_replay_ = saved.allowReplay;
      note_revision_ = saved.noteRevision;
      screenshot_revision_ = saved.screenshotRevision;
      pending_notes_ = std::move(saved.pendingNotes);
      pending_screenshots_ = std::move(saved.pendingScreenshots);
    } catch (...) {
      throw std::runtime_error(kUnreadableState);
    }
  }

  if (settings_.enabled) {
    try {
      settings_.validate();
      if (!isPrintableText(account_secret_, 1, 512)) {
        throw std::runtime_error("ACCOUNT_SECRET_REQUIRED");
      }
      settings_.checkSource(source_hint_);
      if (replay && !allow_replay_) throw std::runtime_error("REPLAY_OPT_IN_REQUIRED");
    } catch (const std::exception& e) {
      settings_.enabled = false;
      startup_error_ = messageForCode(e.what()) + kPausedSuffix;
      pause_reason_ = startup_error_;
    }
  }
  lock_handle_ = lock.release();
}

SyncController::~SyncController() {
  try {
    stop();
  } catch (...) {
  }
  zeroBytes(account_secret_);
  if (lock_handle_ && lock_handle_ != INVALID_HANDLE_VALUE) fileApi().closeHandle(lock_handle_);
}

void SyncController::stop() {
  if (setup_window_) {
    setup_window_->closeWindow();
    setup_window_.reset();
  }
  std::unique_ptr<SyncSender> sender;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    sender = std::move(sender_);
  }
  if (sender) sender->stopAndJoin();
}

void SyncController::log(const std::string& text, bool isError) { log_queue_->push(text, isError); }

LogSink SyncController::logSink() const { return makeLogSink(log_queue_); }

bool SyncController::senderStoppedByItselfLocked() const { return sender_ && sender_->halted(); }

std::string SyncController::senderStatusLocked() const { return sender_ ? sender_->statusText() : std::string(); }

void SyncController::setAllowSync(bool allow) {
  std::unique_ptr<SyncSender> taken;
  bool stoppedByItself = false;
  std::uint64_t generation = 0;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (allow == allow_sync_input_) return;
    allow_sync_input_ = allow;
    log(allow ? "Sierra Allow sync enabled; saved connection settings still apply."
              : "Sierra Allow sync disabled; sender stopping.",
        false);
    if (allow || !sender_) return;
    if (!restart_pending_ && senderStoppedByItselfLocked()) {
      final_sender_status_ = senderStatusLocked();
      stoppedByItself = true;
    }
    taken = std::move(sender_);
    scope_outbox_dir_.clear();
    generation = settings_generation_;
  }
  taken->stopAndJoin();
  if (stoppedByItself) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (settings_generation_ == generation) final_sender_status_ = taken->statusText();
  }
}

CollectorSnapshot SyncController::collectorSnapshot() {
  const std::string windowFailure = setup_window_ ? setup_window_->failureText() : std::string();
  std::unique_ptr<SyncSender> taken;
  CollectorSnapshot s;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    window_failure_ = windowFailure;
    if (!restart_pending_ && senderStoppedByItselfLocked()) {
      final_sender_status_ = senderStatusLocked();
      saved_verified_fingerprint_.clear();
    }
    if (restart_pending_) {
      taken = std::move(sender_);
      scope_outbox_dir_.clear();
      restart_pending_ = false;
    }
    // The key is a digest, and each digest acquires a CryptoAPI context (a
    // dozen registry reads); the snapshot is taken on every chart call, so
    // the key is kept for the scope text it was made from.
    // The root is also created once per scope text rather than on every
    // call: a file-system call there can wait behind the sender's flushes. A
    // collector state re-validates and re-creates the root whenever it is
    // built, so a root removed meanwhile comes back then.
    const std::string scopeText = outboxScopeText(settings_);
    if (scopeText != outbox_scope_text_) {
      std::string root = sync_root_ + "\\outbox\\" + outboxScopeKeyOf(scopeText);
      ensureDirectory(root);
      outbox_root_ = std::move(root);
      outbox_scope_text_ = scopeText;
    }
    s.outboxRoot = outbox_root_;
    s.collectionActive = allow_sync_input_ && settings_.enabled && startup_error_.empty() &&
                         final_sender_status_.empty() && !senderStoppedByItselfLocked();
    s.syncNotes = settings_.sync_notes;
    s.captureFreshFills = settings_.capture_screenshots;
    s.allowLocalFillIds = settings_.allow_local_fill_ids;
    s.allowReplay = allow_replay_;
    s.sessionId = settings_.session_id;
    s.sourceAccount = settings_.source_account;
    s.sourceSymbol = settings_.source_symbol;
    if (!pending_notes_.empty()) {
      s.pendingNoteText = pending_notes_[0]["text"].get<std::string>();
      s.pendingNoteRevision = pending_notes_[0]["revision"].get<std::int32_t>();
    }
    if (!pending_screenshots_.empty()) s.pendingCaptureRevision = pending_screenshots_[0].get<std::int32_t>();
    s.collectorMessage = !final_sender_status_.empty() ? final_sender_status_
                         : !startup_error_.empty()    ? startup_error_
                                                      : window_failure_;
  }
  if (taken) taken->stopAndJoin();
  return s;
}

std::string SyncController::statusLine() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!final_sender_status_.empty()) return final_sender_status_;
  if (!startup_error_.empty()) return startup_error_;
  if (!restart_pending_ && senderStoppedByItselfLocked()) return senderStatusLocked();
  if (!window_failure_.empty()) return window_failure_;
  if (allow_sync_input_) {
    if (!restart_pending_ && sender_) return senderStatusLocked();
    if (!pause_reason_.empty()) return pause_reason_;
    return settings_.enabled ? "Starting sync..."
                             : "Enter your Quorbelle credentials, load accounts, and Start sync.";
  }
  return "Sync is disabled by the Sierra study input. Set Allow sync to Yes to permit the saved connection; "
         "Start/Pause is managed in setup.";
}

void SyncController::drainLog(std::size_t maxCount, const std::function<void(const std::string&)>& write) {
  for (const LogEntry& entry : log_queue_->take(maxCount)) {
    write((entry.isError ? "Quorbelle sync ERROR: " : "Quorbelle sync: ") + entry.text);
  }
}

void SyncController::checkInstrumentMetadata(const nlohmann::json& metadata) {
  std::lock_guard<std::mutex> guard(mutex_);
  const auto symbol = metadata.is_object() ? metadata.find("source_symbol") : metadata.end();
  if (!metadata.is_object() || symbol == metadata.end() || !symbol->is_string() ||
      symbol->get<std::string>() != settings_.source_symbol) {
    throw std::runtime_error("NATIVE_INSTRUMENT_METADATA_MISMATCH");
  }
  instrument_metadata_ = metadata;
}

bool SyncController::startSenderIfAllowed(const std::string& scopeOutboxDir, const SenderFactory& factory) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!factory || !allow_sync_input_ || !settings_.enabled || !startup_error_.empty() ||
      !final_sender_status_.empty() || sender_) {
    return false;
  }
  scope_outbox_dir_ = scopeOutboxDir;
  sender_ = factory(settings_, account_secret_, scopeOutboxDir, logSink());
  return sender_ != nullptr;
}

void SyncController::saveLocked() {
  SavedState state;
  state.settings = settings_;
  state.secret = account_secret_;
  state.allowReplay = allow_replay_;
  state.noteRevision = note_revision_;
  state.screenshotRevision = screenshot_revision_;
  state.pendingNotes = pending_notes_;
  state.pendingScreenshots = pending_screenshots_;
  nlohmann::json document = savedDocument(state);
  zeroBytes(state.secret);
  try {
    saveSettingsFile(settings_path_, document);
  } catch (...) {
    zeroSecretIn(document);
    throw;
  }
  zeroSecretIn(document);
}

void SyncController::queueManualNote(const std::string& text) {
  if (text.empty() || text.size() > kMaxNoteBytes) throw std::runtime_error("NOTE_TOO_LONG_OR_EMPTY");
  std::int32_t revision = 0;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (pending_notes_.size() >= kMaxPendingNotes || note_revision_ == std::numeric_limits<std::int32_t>::max()) {
      throw std::runtime_error("MANUAL_NOTE_QUEUE_FULL");
    }
    revision = ++note_revision_;
    pending_notes_.push_back({{"revision", revision}, {"text", text}});
    try {
      saveLocked();
    } catch (...) {
      pending_notes_.erase(pending_notes_.end() - 1);
      --note_revision_;
      throw;
    }
  }
  log("Manual note saved locally; revision=" + std::to_string(revision) + ". Content omitted from log.", false);
}

void SyncController::queueManualCapture() {
  std::int32_t revision = 0;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (pending_screenshots_.size() >= kMaxPendingCaptures ||
        screenshot_revision_ == std::numeric_limits<std::int32_t>::max()) {
      throw std::runtime_error("MANUAL_SCREENSHOT_QUEUE_FULL");
    }
    revision = ++screenshot_revision_;
    pending_screenshots_.push_back(revision);
    try {
      saveLocked();
    } catch (...) {
      pending_screenshots_.erase(pending_screenshots_.end() - 1);
      --screenshot_revision_;
      throw;
    }
  }
  log("Chart capture queued; revision=" + std::to_string(revision), false);
}

void SyncController::acknowledgeNote(std::int32_t revision) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (pending_notes_.empty() || pending_notes_[0]["revision"].get<std::int64_t>() != revision) return;
  nlohmann::json before = pending_notes_;
  pending_notes_.erase(pending_notes_.begin());
  try {
    saveLocked();
  } catch (...) {
    pending_notes_ = std::move(before);
    throw;
  }
}

void SyncController::acknowledgeCapture(std::int32_t revision) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (pending_screenshots_.empty() || pending_screenshots_[0].get<std::int64_t>() != revision) return;
  nlohmann::json before = pending_screenshots_;
  pending_screenshots_.erase(pending_screenshots_.begin());
  try {
    saveLocked();
  } catch (...) {
    pending_screenshots_ = std::move(before);
    throw;
  }
}

ConnectionSettings SyncController::settingsCopy() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return settings_;
}

std::string SyncController::startupError() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return startup_error_;
}

std::string SyncController::pauseReason() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return pause_reason_;
}

nlohmann::json SyncController::pendingNotes() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return pending_notes_;
}

nlohmann::json SyncController::pendingScreenshots() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return pending_screenshots_;
}

bool SyncController::hasSender() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return sender_ != nullptr;
}

}  // namespace qbsync
