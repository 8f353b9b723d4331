// The per-study object that binds one collection source (trade account,
// trade symbol, simulation and replay flags) to its saved connection: the
// source's folders and exclusive lock, the settings and secret, the manual
// queues, the message log queue, the sender and the setup window.
#ifndef QB_SYNC_SYNC_CONTROLLER_H
#define QB_SYNC_SYNC_CONTROLLER_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "service/setup_account.h"
#include "settings/connection_settings.h"
#include "settings/setup_values.h"
#include "support/log_queue.h"

namespace qbnative {
class SetupWindow;
struct SetupCallbacks;
}  // namespace qbnative

namespace qbsync {

class SyncSender;

// The controller's per-call view for the study function.
struct CollectorSnapshot {
  bool collectionActive = false;
  bool syncNotes = false;
  bool captureFreshFills = false;
  bool allowLocalFillIds = false;
  bool allowReplay = false;
  std::string outboxRoot;
  std::string sessionId;
  std::string sourceAccount;
  std::string sourceSymbol;
  std::string pendingNoteText;
  std::int32_t pendingNoteRevision = 0;
  std::int32_t pendingCaptureRevision = 0;
  std::string collectorMessage;
};

// Starts a sender for the study: settings copy, secret copy, scope outbox
// directory and log sink. Installed by the study; null means "no sender can
// be built in this build", and sync stays with the collector only.
using SenderFactory = std::function<std::unique_ptr<SyncSender>(
    const ConnectionSettings& settings, const std::string& secret, const std::string& outboxDir,
    LogSink sink)>;

class SyncController {
 public:
  // Chart thread. Builds the folders, takes the source lock and loads the
  // saved state. Throws std::runtime_error with the trader-facing refusal;
  // no controller exists then.
  SyncController(const std::string& account, const std::string& symbol, bool simulation, bool replay,
                 const char* hostDataFolder, const std::string& sourceHint,
                 const nlohmann::json& instrumentMetadata);
  // stop(), then zeroes the secret and releases the lock.
  ~SyncController();
  SyncController(const SyncController&) = delete;
  SyncController& operator=(const SyncController&) = delete;

  // Stops the setup window and the sender and joins the sender thread.
  // Chart thread; never while holding the controller mutex.
  void stop();

  // Chart thread: the study's "Allow sync" input.
  void setAllowSync(bool allow);
  // Chart thread: the per-call view; creates the outbox root directory.
  CollectorSnapshot collectorSnapshot();
  // The one-line status shown in the study input.
  std::string statusLine();
  // Writes up to maxCount queued lines through write(text) (chart thread).
  void drainLog(std::size_t maxCount, const std::function<void(const std::string&)>& write);

  // Replaces the stored metadata when it describes the source symbol;
  // throws "NATIVE_INSTRUMENT_METADATA_MISMATCH" otherwise.
  void checkInstrumentMetadata(const nlohmann::json& metadata);

  // Starts the sender when sync may run and none exists (the study's step
  // before polling). Returns true when a sender was started.
  bool startSenderIfAllowed(const std::string& scopeOutboxDir, const SenderFactory& factory);

  // Manual journal queue (setup window thread) and its acknowledgement (chart thread).
  void queueManualNote(const std::string& text);
  void queueManualCapture();
  void acknowledgeNote(std::int32_t revision);
  void acknowledgeCapture(std::int32_t revision);

  // Chart thread: opens or shows the setup window, owned by the chart's root
  // window. With requireOwner, nothing happens unless the owner is a live window.
  void openSetupWindow(void* ownerWindow, bool requireOwner, bool noteMode);

  // Setup worker threads: the destination accounts visible to a credential
  // pair, and the readiness of the chosen one. Throw codes or user texts;
  // `cancel` is the window's flag.
  std::vector<qbnative::SetupAccount> discoverAccounts(const std::string& email, const std::string& secret,
                                                       const std::atomic<bool>& cancel);
  void checkConnection(const qbnative::SetupValues& form, const std::atomic<bool>& cancel);
  // Window thread: whether journal notes and captures may be used.
  bool journalToolsReady();
  // Window thread: saves Start (verified settings) or Pause and restarts the sender.
  void applySetup(const qbnative::SetupValues& form);
  // The seven callbacks bound to this controller.
  qbnative::SetupCallbacks setupCallbacks();

  // Log line from any thread.
  void log(const std::string& text, bool isError);
  LogSink logSink() const;

  // Read-only views for tests and the setup workflow.
  ConnectionSettings settingsCopy() const;
  std::string settingsPath() const { return settings_path_; }
  std::string syncRoot() const { return sync_root_; }
  std::string startupError() const;
  std::string pauseReason() const;
  nlohmann::json pendingNotes() const;
  nlohmann::json pendingScreenshots() const;
  bool hasSender() const;

 private:
  void saveLocked();  // saves the whole document; caller holds mutex_
  bool senderStoppedByItselfLocked() const;
  std::string senderStatusLocked() const;

  void* lock_handle_ = nullptr;
  mutable std::mutex mutex_;
  ConnectionSettings settings_;
  std::string account_secret_;
  std::string sync_root_;
  std::string settings_path_;
  std::string scope_outbox_dir_;
  // The snapshot's outbox root, created, for the scope text it was made from.
  std::string outbox_scope_text_, outbox_root_;
  std::string pause_reason_;
  std::string source_hint_;
  std::string startup_error_;
  std::string final_sender_status_;
  std::string window_failure_;
  std::string verified_fingerprint_;
  std::string saved_verified_fingerprint_;
  bool check_started_ = false;
  std::unique_ptr<qbnative::SetupWindow> setup_window_;
  std::unique_ptr<SyncSender> sender_;
  bool restart_pending_ = false;
  bool allow_replay_ = false;
  bool allow_sync_input_ = true;
  std::uint64_t settings_generation_ = 0;
  std::int32_t note_revision_ = 0;
  std::int32_t screenshot_revision_ = 0;
  nlohmann::json pending_notes_ = nlohmann::json::array();
  nlohmann::json pending_screenshots_ = nlohmann::json::array();
  nlohmann::json instrument_metadata_;
  std::shared_ptr<NativeLogQueue> log_queue_;
};

}  // namespace qbsync

#endif
