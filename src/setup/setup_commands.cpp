// What the setup window's buttons, edits, timers and workers do: account
// loading, the connection check, Start and Pause, journal notes and captures.
// Everything here runs on the window thread except the two workers.
#include <memory>
#include <stdexcept>

#include "settings/message_for_code.h"
#include "setup/setup_texts.h"
#include "setup/setup_window_state.h"
#include "support/text_encoding.h"

namespace qbnative {
namespace {

namespace text = setup_text;

[[noreturn]] void fail(const char* message) { throw std::runtime_error(message); }

// A worker's failure as the status text; a failure without a message must
// never read as success.
std::string failureMessage(const std::exception& e, const char* fallback) {
  return *e.what() ? std::string(e.what()) : std::string(fallback);
}

}  // namespace

struct SetupCredentials {
  std::string email;
  std::string secret;
};

bool SetupWindow::State::handleCommand(int id, int code) {
  auto run = [this](auto&& step) {
    guarded(step);
    return true;
  };
  const bool setup = !journal_mode;
  switch (id) {
    case kEmailEdit:
    case kSecretEdit:
    case kSessionEdit:
      if (code == EN_CHANGE) return run([this] { invalidateCheck(); });
      return false;
    case kAccountList:
      if (code == CBN_SELCHANGE) return run([this] { invalidateCheck(); });
      return false;
    case kSyncNotesCheck:
    case kCaptureCheck:
    case kReplayCheck:
    case kLocalFillsCheck:
      if (code == BN_CLICKED) return run([this] { invalidateCheck(); });
      return false;
    default:
      break;
  }
  if (code != BN_CLICKED) return false;
  switch (id) {
    case kLoadButton:
      return setup && run([this] { startAccountLoad(); });
    case kStartButton:
      return setup && run([this] { startConnectionCheck(true); });
    case kPauseButton:
      return setup && run([this] { pauseSync(); });
    case kAdvancedCheck:
      return setup && run([this] { relayout(); });
    case kJournalButton:
      return run([this] { toggleMode(); });
    case kSaveNoteButton:
      return journal_mode && run([this] { saveNote(); });
    case kCaptureButton:
      return journal_mode && run([this] { captureChart(); });
    case kCloseButton:
      return run([this] { hideWindow(); });
    default:
      return false;
  }
}

void SetupWindow::State::postToWindow(UINT message) {
  if (close_requested) return;
  if (HWND w = window.load()) PostMessageW(w, message, 0, 0);
}

// ---- Show and the status timer --------------------------------------------

void SetupWindow::State::onShowRequest() {
  if (!show_requested) return;
  if (owner && IsWindow(owner) && !IsWindowEnabled(owner)) {
    // Behind a modal host dialog: try again shortly rather than pop up over it.
    SetTimer(self, kShowTimer, 100, nullptr);
    return;
  }
  KillTimer(self, kShowTimer);
  show_requested = false;
  journal_mode = requested_mode;
  relayout();
  if (!shown) {
    shown = true;
    ShowWindow(self, SW_SHOWNORMAL);
    SetForegroundWindow(self);
    if (!toolsReady()) {
      SetupValues stored = storedForm();
      ScrubOnExit scrub(stored.secret);
      if (!discovery_running && !check_running && !stored.email.empty() && !stored.secret.empty() &&
          !stored.account_id.empty() && !stored.session_id.empty()) {
        startConnectionCheck(false);  // verifies a saved setup, saves nothing
      } else if (journal_mode) {
        showStatus(text::kConnectBeforeNotes);
      }
    } else if (journal_mode) {
      SetFocus(control(kNoteEdit));
    }
    return;
  }
  SetForegroundWindow(self);
  SetFocus(control(journal_mode && toolsReady() ? kNoteEdit : kCloseButton));
}

void SetupWindow::State::onStatusTimer() {
  const bool ready = toolsReady();
  if (ready != tools_ready) relayout();
  if (!error_status.empty()) {
    showStatus(error_status);
  } else if (journal_mode && ready && !info_status.empty()) {
    showStatus(info_status);
  } else if (discovery_running || check_running) {
    // the worker's progress text stays
  } else if (callbacks.statusText) {
    const std::string line = callbacks.statusText();
    if (!line.empty()) showStatus(line);
  }
}

void SetupWindow::State::invalidateCheck() {
  ++generation;
  check_cancel = true;
  verified = false;
  error_status.clear();
  info_status.clear();
  relayout();
  updateStartButton();
  if (check_running) showStatus(text::kSettingsChanged);
}

// ---- Load accounts ----------------------------------------------------------

void SetupWindow::State::startAccountLoad() {
  if (discovery_running || check_running) return;
  std::string email = controlText(kEmailEdit);
  std::string secret = controlText(kSecretEdit);
  ScrubOnExit scrub(secret);
  if (email.empty() || secret.empty()) fail(text::kEnterCredentials);
  if (!callbacks.discoverAccounts) fail(text::kDiscoveryUnavailable);
  if (discovery_thread.joinable()) discovery_thread.join();
  invalidateCheck();
  discovery_running = true;
  discovery_cancel = false;
  EnableWindow(control(kLoadButton), FALSE);
  EnableWindow(control(kStartButton), FALSE);
  showStatus(text::kLoading);
  try {
    // Handed over by pointer, so the thread start leaves no stray copy of the secret.
    auto credentials = std::make_unique<SetupCredentials>(SetupCredentials{email, secret});
    discovery_thread = std::thread(&State::discoveryWorker, this, std::move(credentials));
  } catch (...) {
    discovery_running = false;
    EnableWindow(control(kLoadButton), TRUE);
    updateStartButton();
    throw;
  }
}

void SetupWindow::State::discoveryWorker(std::unique_ptr<SetupCredentials> credentials) {
  current_thread_owner = this;
  const std::string& email = credentials->email;
  std::string& secret = credentials->secret;
  ScrubOnExit scrub(secret);
  std::vector<SetupAccount> accounts;
  std::string error;
  try {
    accounts = callbacks.discoverAccounts(email, secret, discovery_cancel);
  } catch (const std::exception& e) {
    error = failureMessage(e, text::kLoadFailed);
  } catch (...) {
    error = text::kLoadFailed;
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    loaded_accounts = std::move(accounts);
    discovery_error = std::move(error);
    discovery_email = email;
    discovery_secret = secret;
  }
  postToWindow(SETUP_MSG_ACCOUNTS_LOADED);
}

void SetupWindow::State::onAccountsLoaded() {
  if (discovery_thread.joinable()) discovery_thread.join();
  discovery_running = false;
  std::string error;
  {
    std::lock_guard<std::mutex> lock(mutex);
    shown_accounts = std::move(loaded_accounts);
    loaded_accounts.clear();
    error = std::move(discovery_error);
    discovery_error.clear();
    loaded_email = discovery_email;
    qbsync::secureZero(loaded_secret);
    loaded_secret = discovery_secret;
    qbsync::secureZero(discovery_secret);
  }
  HWND list = control(kAccountList);
  SendMessageW(list, CB_RESETCONTENT, 0, 0);
  // Convert every name before filling the list, so a bad name leaves an
  // empty list and a usable Load accounts button rather than half a list.
  std::vector<std::wstring> names;
  try {
    for (const SetupAccount& account : shown_accounts) names.push_back(qbsync::setupTextToWide(account.name));
  } catch (...) {
    shown_accounts.clear();
    EnableWindow(control(kLoadButton), TRUE);
    updateStartButton();
    throw;
  }
  for (const std::wstring& name : names) SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));

  const SetupValues stored = storedFormWithoutSecret();
  if (!stored.account_id.empty()) {
    for (std::size_t i = 0; i < shown_accounts.size(); ++i) {
      if (shown_accounts[i].account_id == stored.account_id) SendMessageW(list, CB_SETCURSEL, i, 0);
    }
  }
  if (shown_accounts.size() == 1) SendMessageW(list, CB_SETCURSEL, 0, 0);

  EnableWindow(control(kLoadButton), TRUE);
  updateStartButton();

  std::string secret = controlText(kSecretEdit);
  ScrubOnExit scrub(secret);
  if (controlText(kEmailEdit) != loaded_email || secret != loaded_secret) {
    EnableWindow(control(kStartButton), FALSE);
    showStatus(text::kCredentialsChangedWhileLoading);
  } else if (!error.empty()) {
    error_status = qbsync::messageForCode(error);
    showStatus(error_status);
  } else if (shown_accounts.empty()) {
    showStatus(text::kNoAccounts);
  } else {
    showStatus(text::kChooseDestination);
  }
}

// ---- Connection check, Start and Pause ---------------------------------------

SetupValues SetupWindow::State::readForm() {
  SetupValues form = storedFormWithoutSecret();
  form.email = controlText(kEmailEdit);
  form.secret = controlText(kSecretEdit);
  ScrubOnExit scrub(form.secret);  // on a refusal; the caller takes a copy
  form.session_id = controlText(kSessionEdit);
  form.sync_notes = isChecked(kSyncNotesCheck);
  form.capture_screenshots = isChecked(kCaptureCheck);
  form.allow_replay = isChecked(kReplayCheck);
  form.allow_local_fill_ids = isChecked(kLocalFillsCheck);

  const LRESULT selection = SendMessageW(control(kAccountList), CB_GETCURSEL, 0, 0);
  if (selection < 0 || static_cast<std::size_t>(selection) >= shown_accounts.size()) {
    fail(text::kChooseDestinationFirst);
  }
  form.account_id = shown_accounts[static_cast<std::size_t>(selection)].account_id;
  form.account_name = shown_accounts[static_cast<std::size_t>(selection)].name;
  if (form.email.empty() || form.secret.empty()) fail(text::kEnterCredentials);
  if (form.email != loaded_email || form.secret != loaded_secret) fail(text::kCredentialsChanged);
  if (form.session_id.empty() || form.session_id.size() > 128) fail(text::kSessionIdLength);
  form.enabled = true;
  SetupValues result = form;
  return result;
}

void SetupWindow::State::startConnectionCheck(bool startAfterCheck) {
  if (discovery_running || check_running) return;
  if (!callbacks.checkConnection || !callbacks.journalToolsReady) fail(text::kVerificationUnavailable);
  SetupValues form = readForm();
  ScrubOnExit scrub(form.secret);
  if (!startAfterCheck) form.enabled = storedFormWithoutSecret().enabled;  // an automatic check keeps the saved on/off state

  if (check_thread.joinable()) check_thread.join();
  qbsync::secureZero(pending_form.secret);
  pending_form = form;
  generation_at_check = generation;
  start_after_check = startAfterCheck;
  error_status.clear();
  info_status.clear();
  {
    std::lock_guard<std::mutex> lock(mutex);
    check_error.clear();
  }
  verified = false;
  check_running = true;
  check_cancel = false;

  updateStartButton();
  EnableWindow(control(kLoadButton), FALSE);
  relayout();
  showStatus(text::kChecking);
  try {
    check_thread = std::thread(&State::checkWorker, this, std::make_unique<SetupValues>(form));
  } catch (...) {
    check_running = false;
    EnableWindow(control(kLoadButton), TRUE);
    updateStartButton();
    throw;
  }
}

void SetupWindow::State::checkWorker(std::unique_ptr<SetupValues> checked) {
  current_thread_owner = this;
  SetupValues& form = *checked;
  ScrubOnExit scrub(form.secret);
  std::string error;
  try {
    callbacks.checkConnection(form, check_cancel);
  } catch (const std::exception& e) {
    error = failureMessage(e, text::kCheckFailed);
  } catch (...) {
    error = text::kCheckFailed;
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    check_error = std::move(error);
  }
  postToWindow(SETUP_MSG_CHECK_DONE);
}

void SetupWindow::State::onCheckDone() {
  if (check_thread.joinable()) check_thread.join();
  check_running = false;
  if (owner && !IsWindow(owner)) {
    DestroyWindow(self);
    return;
  }
  EnableWindow(control(kLoadButton), !discovery_running);
  updateStartButton();

  const bool counts = !check_cancel && generation == generation_at_check && formMatchesControls(pending_form);
  if (!counts) {
    verified = false;
    relayout();
    if (shown) showStatus(text::kCheckCanceled);
    return;
  }
  std::string error;
  {
    std::lock_guard<std::mutex> lock(mutex);
    error = check_error;
  }
  if (!error.empty()) {
    error_status = qbsync::messageForCode(error);
    showStatus(error_status);
    verified = false;
    relayout();
    return;
  }
  if (start_after_check) {
    if (!callbacks.applySetup) fail(text::kSetupUnavailable);
    callbacks.applySetup(pending_form);
    std::lock_guard<std::mutex> lock(mutex);
    qbsync::secureZero(stored_form.secret);
    stored_form = pending_form;
  }
  qbsync::secureZero(verified_form.secret);
  verified_form = pending_form;
  verified = callbacks.journalToolsReady();
  relayout();
  if (verified) {
    std::string message = start_after_check && callbacks.statusText ? callbacks.statusText() : std::string();
    if (message.empty()) message = start_after_check ? text::kVerifiedSaved : text::kVerifiedToolsReady;
    showStatus(message);
    if (journal_mode) SetFocus(control(kNoteEdit));
  } else {
    error_status = callbacks.statusText ? callbacks.statusText() : std::string();
    if (error_status.empty()) error_status = text::kVerifiedSelectStart;
    showStatus(error_status);
  }
}

void SetupWindow::State::pauseSync() {
  ++generation;
  check_cancel = true;
  error_status.clear();
  SetupValues form = storedForm();  // the controls are not read: unsaved edits stay unsaved
  ScrubOnExit scrub(form.secret);
  form.enabled = false;
  if (callbacks.applySetup) callbacks.applySetup(form);
  {
    std::lock_guard<std::mutex> lock(mutex);
    stored_form.enabled = false;
  }
  showStatus(text::kPaused);
}

// ---- Journal-note mode -------------------------------------------------------

void SetupWindow::State::toggleMode() {
  journal_mode = !journal_mode;
  requested_mode = journal_mode;
  relayout();
  SetFocus(control(journal_mode && toolsReady() ? kNoteEdit : kCloseButton));
}

void SetupWindow::State::saveNote() {
  if (!journal_mode) return;
  if (!toolsReady()) {
    if (error_status.empty()) fail(text::kVerifyBeforeNote);
    return;
  }
  if (!storedFormWithoutSecret().sync_notes) fail(text::kEnableNoteSync);
  const std::string note = controlText(kNoteEdit);
  if (note.empty()) fail(text::kEnterNote);
  if (!callbacks.saveNote) fail(text::kNoteUnavailable);
  callbacks.saveNote(note);
  error_status.clear();
  setControlText(kNoteEdit, "");
  info_status = text::kNoteSaved;
  showStatus(info_status);
}

void SetupWindow::State::captureChart() {
  if (!journal_mode) return;
  if (!toolsReady()) {
    if (error_status.empty()) fail(text::kVerifyBeforeCapture);
    return;
  }
  if (!callbacks.captureChart) fail(text::kCaptureUnavailable);
  callbacks.captureChart();
  error_status.clear();
  info_status = text::kCaptureQueued;
  showStatus(info_status);
}

}  // namespace qbnative
