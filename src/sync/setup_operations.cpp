// The controller's side of the setup window: account discovery, the
// connection check, journal tools and applying Start or Pause.
#include <windows.h>

#include <stdexcept>

#include "service/account_requests.h"
#include "settings/saved_state.h"
#include "settings/settings_file.h"
#include "setup/setup_window.h"
#include "support/identifier.h"
#include "support/printable_text.h"
#include "sync/sync_controller.h"
#include "sync/sync_sender.h"

namespace qbsync {
namespace {

bool isPrintableSecret(const std::string& secret) { return isPrintableText(secret, 1, 512); }

std::string sourceLine(const ConnectionSettings& s) {
  return s.source_account + " | " + s.source_symbol + (s.replay ? " | REPLAY" : s.simulation ? " | SIMULATION" : " | LIVE");
}

}  // namespace

std::vector<qbnative::SetupAccount> SyncController::discoverAccounts(const std::string& email,
                                                                     const std::string& secret,
                                                                     const std::atomic<bool>& cancel) {
  ConnectionSettings candidate = settingsCopy();
  candidate.email = email;  // exactly as typed
  candidate.account_id.clear();
  return requestAccounts(candidate, secret, cancel, logSink());
}

void SyncController::checkConnection(const qbnative::SetupValues& form, const std::atomic<bool>& cancel) {
  ConnectionSettings candidate;
  std::uint64_t generation = 0;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    candidate = settingsFromForm(settings_, form);
    generation = settings_generation_;
    check_started_ = true;
    verified_fingerprint_.clear();
    saved_verified_fingerprint_.clear();
    candidate.validate();
    if (!isPrintableSecret(form.secret)) throw std::runtime_error("ACCOUNT_SECRET_REQUIRED");
    candidate.checkSource(source_hint_);
    // The check verifies only sources whose instrument the host describes.
    if (!candidate.native_instrument_protocol) throw std::runtime_error("LEGACY_INSTRUMENT_RECONCILIATION_REQUIRED");
    if (candidate.replay && !form.allow_replay) throw std::runtime_error("REPLAY_OPT_IN_REQUIRED");
    if (!settings_.account_id.empty() && (!pending_notes_.empty() || !pending_screenshots_.empty()) &&
        settings_.bindingDocument() != candidate.bindingDocument()) {
      throw std::runtime_error("PENDING_JOURNAL_ITEMS_KEEP_CURRENT_ACCOUNT");
    }
  }
  if (cancel) throw std::runtime_error("CONNECTION_CHECK_CANCELLED");
  requestConnectionCheck(candidate, form.secret, cancel, logSink());

  std::lock_guard<std::mutex> guard(mutex_);
  if (cancel || settings_generation_ != generation) throw std::runtime_error("CONNECTION_CHECK_SETTINGS_CHANGED");
  verified_fingerprint_ = connectionFingerprint(candidate, form.secret, form.allow_replay);
  if (connectionFingerprint(settings_, account_secret_, allow_replay_) == verified_fingerprint_) {
    saved_verified_fingerprint_ = verified_fingerprint_;
  }
  log("Connection check verified the selected Quorbelle account.", false);
}

bool SyncController::journalToolsReady() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!startup_error_.empty() || !final_sender_status_.empty()) return false;
  if (!restart_pending_ && sender_ && sender_->halted()) return false;
  if (!saved_verified_fingerprint_.empty()) return true;
  return !check_started_ && !restart_pending_ && sender_ && sender_->verified() && !sender_->halted() &&
         !sender_->stopRequested();
}

void SyncController::applySetup(const qbnative::SetupValues& form) {
  std::lock_guard<std::mutex> guard(mutex_);
  const ConnectionSettings candidate = settingsFromForm(settings_, form);
  const std::string fingerprint = connectionFingerprint(candidate, form.secret, form.allow_replay);
  if (candidate.enabled) {
    candidate.validate();
    if (!isPrintableSecret(form.secret)) throw std::runtime_error("ACCOUNT_SECRET_REQUIRED");
    candidate.checkSource(source_hint_);
    if (candidate.replay && !form.allow_replay) throw std::runtime_error("REPLAY_OPT_IN_REQUIRED");
    if (verified_fingerprint_.empty() || verified_fingerprint_ != fingerprint) {
      throw std::runtime_error("CONNECTION_CHECK_REQUIRED");
    }
  } else {
    // A Pause takes effect even when saving it fails below.
    settings_.enabled = false;
    restart_pending_ = true;
    pause_reason_ = "Sync paused.";
    if (sender_) sender_->requestStop();
  }
  if (!settings_.account_id.empty() && (!pending_notes_.empty() || !pending_screenshots_.empty()) &&
      settings_.bindingDocument() != candidate.bindingDocument()) {
    throw std::runtime_error("PENDING_JOURNAL_ITEMS_KEEP_CURRENT_ACCOUNT");
  }

  SavedState saved;
  saved.settings = candidate;
  saved.secret = form.secret;
  saved.allowReplay = form.allow_replay;
  saved.noteRevision = note_revision_;
  saved.screenshotRevision = screenshot_revision_;
  saved.pendingNotes = pending_notes_;
  saved.pendingScreenshots = pending_screenshots_;
  nlohmann::json document = savedDocument(saved);
  try {
    saveSettingsFile(settings_path_, document);
  } catch (...) {
    zeroSecretIn(document);
    throw;
  }
  zeroSecretIn(document);

  settings_ = candidate;
  account_secret_ = form.secret;
  allow_replay_ = form.allow_replay;
  if (verified_fingerprint_ == fingerprint) {
    saved_verified_fingerprint_ = fingerprint;
  } else if (saved_verified_fingerprint_ != fingerprint) {
    saved_verified_fingerprint_.clear();
  }
  verified_fingerprint_.clear();
  startup_error_.clear();
  final_sender_status_.clear();
  ++settings_generation_;
  restart_pending_ = true;
  pause_reason_ = candidate.enabled ? "Starting sync..." : "Sync paused.";
  log(candidate.enabled ? "Start sync saved. Sender will resume the existing queue."
                        : "Sync paused. Saved records are retained.",
      false);
  if (sender_) sender_->requestStop();
}

qbnative::SetupCallbacks SyncController::setupCallbacks() {
  qbnative::SetupCallbacks callbacks;
  callbacks.discoverAccounts = [this](const std::string& email, const std::string& secret,
                                      const std::atomic<bool>& cancel) {
    return discoverAccounts(email, secret, cancel);
  };
  callbacks.checkConnection = [this](const qbnative::SetupValues& form, const std::atomic<bool>& cancel) {
    checkConnection(form, cancel);
  };
  callbacks.journalToolsReady = [this] { return journalToolsReady(); };
  callbacks.applySetup = [this](const qbnative::SetupValues& form) { applySetup(form); };
  callbacks.statusText = [this] { return statusLine(); };
  callbacks.saveNote = [this](const std::string& note) { queueManualNote(note); };
  callbacks.captureChart = [this] { queueManualCapture(); };
  return callbacks;
}

void SyncController::openSetupWindow(void* ownerWindow, bool requireOwner, bool noteMode) {
  if (requireOwner && (!ownerWindow || !IsWindow(static_cast<HWND>(ownerWindow)))) return;
  // A window whose creation failed has no thread left; it is replaced, so
  // the trader can open setup again once the cause is gone.
  if (setup_window_ && !setup_window_->failureText().empty()) setup_window_.reset();
  if (setup_window_) {
    setup_window_->requestShow(noteMode);
    return;
  }
  qbnative::SetupValues initial;
  std::string line;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    initial.email = settings_.email;
    initial.account_id = settings_.account_id;
    initial.account_name = settings_.account_name;
    initial.asset_type = settings_.asset_type;
    initial.api_symbol = settings_.api_symbol;
    initial.session_id = settings_.session_id;
    initial.enabled = settings_.enabled;
    initial.sync_notes = settings_.sync_notes;
    initial.capture_screenshots = settings_.capture_screenshots;
    initial.allow_local_fill_ids = settings_.allow_local_fill_ids;
    initial.secret = account_secret_;
    initial.allow_replay = allow_replay_;
    line = sourceLine(settings_);
  }
  setup_window_ = std::make_unique<qbnative::SetupWindow>(line, std::move(initial), setupCallbacks(), ownerWindow);
  setup_window_->requestShow(noteMode);
}

}  // namespace qbsync
