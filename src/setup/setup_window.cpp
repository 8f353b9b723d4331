// The setup window's object, thread, controls, layout and text boundary.
// Commands and worker results are in setup_commands.cpp.
#include "setup/setup_window.h"

#include <cstdint>
#include <stdexcept>
#include <system_error>

#include "settings/message_for_code.h"
#include "setup/setup_texts.h"
#include "setup/setup_window_state.h"
#include "support/text_encoding.h"

namespace qbnative {
namespace {

namespace text = setup_text;

enum Group : char { kNone = ' ', kSetup = 'S', kBasic = 'B', kAdvanced = 'A', kJournal = 'J' };

struct ControlSpec {
  int id;
  const wchar_t* cls;
  const wchar_t* text;
  DWORD style;
  int x, y, w, h;
  Group group;
  int limit;  // EM_LIMITTEXT, 0 for none
};

// Creation order is the tab order.
const ControlSpec kControls[] = {
    {kHeading, L"STATIC", L"Connect this chart to Quorbelle", 0, 24, 18, 600, 24, kNone, 0},
    {0, L"STATIC", L"", 0, 24, 46, 600, 38, kNone, 0},  // the source line
    {0, L"STATIC", L"Quorbelle email", 0, 24, 96, 150, 20, kSetup, 0},
    {kEmailEdit, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, 190, 91, 420, 26, kSetup, 254},
    {0, L"STATIC", L"Account secret key", 0, 24, 133, 150, 20, kSetup, 0},
    {kSecretEdit, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, 190, 128, 420, 26, kSetup, 2048},
    {kLoadButton, L"BUTTON", L"Load accounts", WS_TABSTOP, 190, 166, 140, 30, kSetup, 0},
    {0, L"STATIC", L"Destination account", 0, 24, 212, 150, 20, kSetup, 0},
    {kAccountList, L"COMBOBOX", L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 190, 206, 420, 160, kSetup, 0},
    {kHintLine, L"STATIC", L"Instrument is detected automatically from Sierra Chart.", 0, 24, 240, 586, 20, kSetup,
     0},
    {kAdvancedCheck, L"BUTTON", L"Advanced options", WS_TABSTOP | BS_AUTOCHECKBOX, 24, 265, 220, 24, kSetup, 0},
    {kSyncNotesCheck, L"BUTTON", L"Sync notes and stop/target observations", WS_TABSTOP | BS_AUTOCHECKBOX, 24, 291,
     500, 24, kBasic, 0},
    {kCaptureCheck, L"BUTTON", L"Capture chart images on new fills", WS_TABSTOP | BS_AUTOCHECKBOX, 24, 319, 500, 24,
     kBasic, 0},
    {0, L"STATIC", L"Images stay on this computer; capture details sync to Quorbelle.", 0, 44, 346, 566, 24, kBasic,
     0},
    {kDestinationLabel, L"STATIC", L"Journal note", 0, 24, 96, 586, 24, kJournal, 0},
    {kNoteEdit, L"EDIT", L"", WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, 24, 124, 586,
     160, kJournal, 12000},
    {kSaveNoteButton, L"BUTTON", L"Save note", WS_TABSTOP, 24, 298, 120, 32, kJournal, 0},
    {kCaptureButton, L"BUTTON", L"Capture chart", WS_TABSTOP, 156, 298, 140, 32, kJournal, 0},
    {kNoteHintLine, L"STATIC", L"", 0, 24, 342, 586, 40, kJournal, 0},
    {0, L"STATIC", L"Session / replay ID", 0, 24, 301, 150, 20, kAdvanced, 0},
    {kSessionEdit, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, 190, 296, 420, 26, kAdvanced, 0},
    {0, L"STATIC", L"Change only for a new replay or history reset.", 0, 190, 327, 420, 24, kAdvanced, 0},
    {kReplayCheck, L"BUTTON", L"Allow chart replay (use a new session ID for each replay run)",
     WS_TABSTOP | BS_AUTOCHECKBOX, 24, 367, 586, 24, kAdvanced, 0},
    {kLocalFillsCheck, L"BUTTON", L"Allow local fill identities when the service has no execution IDs",
     WS_TABSTOP | BS_AUTOCHECKBOX, 24, 399, 586, 24, kAdvanced, 0},
    {kStatusLine, L"STATIC", L"Ready to connect.", 0, 24, 532, 586, 52, kNone, 0},
    {kJournalButton, L"BUTTON", L"Open journal", WS_TABSTOP, 24, 599, 150, 34, kNone, 0},
    {kStartButton, L"BUTTON", L"Start sync", WS_TABSTOP | BS_DEFPUSHBUTTON, 190, 599, 120, 34, kSetup, 0},
    {kPauseButton, L"BUTTON", L"Pause sync", WS_TABSTOP, 324, 599, 120, 34, kSetup, 0},
    {kCloseButton, L"BUTTON", L"Close", WS_TABSTOP, 478, 599, 132, 34, kNone, 0},
};

constexpr int kSourceLineIndex = 1;

void showGroup(const std::vector<HWND>& group, bool visible) {
  for (HWND h : group) ShowWindow(h, visible ? SW_SHOW : SW_HIDE);
}

}  // namespace

// ---- State ----------------------------------------------------------------

SetupWindow::State::State(std::string sourceLine, SetupValues initial, SetupCallbacks cbs, HWND ownerWindow)
    : source_line(std::move(sourceLine)), callbacks(std::move(cbs)), stored_form(std::move(initial)),
      owner(ownerWindow) {}

SetupWindow::State::~State() {
  qbsync::secureZero(stored_form.secret);
  qbsync::secureZero(discovery_secret);
  qbsync::secureZero(loaded_secret);
  qbsync::secureZero(pending_form.secret);
  qbsync::secureZero(verified_form.secret);
  if (thread_ended) CloseHandle(thread_ended);
}

SetupValues SetupWindow::State::storedForm() const {
  std::lock_guard<std::mutex> lock(mutex);
  return stored_form;
}

SetupValues SetupWindow::State::storedFormWithoutSecret() {
  std::lock_guard<std::mutex> lock(mutex);
  SetupValues copy;
  std::string secret;
  secret.swap(stored_form.secret);
  copy = stored_form;
  secret.swap(stored_form.secret);
  qbsync::secureZero(secret);
  return copy;
}

std::string SetupWindow::State::controlText(int id) const {
  HWND h = control(id);
  const int length = h ? GetWindowTextLengthW(h) : 0;
  if (length <= 0) return std::string();
  std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(h, buffer.data(), length + 1);
  std::string result = qbsync::wideToUtf8(std::wstring_view(buffer.data(), got > 0 ? got : 0));
  // The secret passes through here; leave no copy of it behind.
  qbsync::secureZeroBytes(buffer.data(), buffer.size() * sizeof(wchar_t));
  return result;
}

void SetupWindow::State::setControlText(int id, const std::string& value) {
  std::wstring wide = qbsync::setupTextToWide(value);
  SetWindowTextW(control(id), wide.c_str());
  qbsync::secureZeroBytes(wide.data(), wide.size() * sizeof(wchar_t));
}

void SetupWindow::State::showStatus(const std::string& value) {
  const std::string shownText = qbsync::messageForCode(value);
  // The status timer repeats the same text every second; skip the repaint.
  if (controlText(kStatusLine) == shownText) return;
  setControlText(kStatusLine, shownText);
}

void SetupWindow::State::reportFailure(const char* message) {
  error_status = message && *message ? qbsync::messageForCode(message) : std::string(text::kActionFailed);
  try {
    showStatus(error_status);
  } catch (...) {
    // Text the control cannot take must not stay in the status for the timer to retry.
    error_status = text::kActionFailed;
    SetWindowTextW(control(kStatusLine), qbsync::setupTextToWide(error_status).c_str());
  }
}

bool SetupWindow::State::isChecked(int id) const { return IsDlgButtonChecked(self, id) == BST_CHECKED; }

void SetupWindow::State::setChecked(int id, bool on) { CheckDlgButton(self, id, on ? BST_CHECKED : BST_UNCHECKED); }

bool SetupWindow::State::formMatchesControls(const SetupValues& form) const {
  const LRESULT selection = SendMessageW(control(kAccountList), CB_GETCURSEL, 0, 0);
  if (selection < 0 || static_cast<std::size_t>(selection) >= shown_accounts.size()) return false;
  if (shown_accounts[static_cast<std::size_t>(selection)].account_id != form.account_id) return false;
  if (controlText(kEmailEdit) != form.email) return false;
  std::string secret = controlText(kSecretEdit);
  ScrubOnExit scrub(secret);
  if (secret != form.secret) return false;
  if (controlText(kSessionEdit) != form.session_id) return false;
  return isChecked(kSyncNotesCheck) == form.sync_notes && isChecked(kCaptureCheck) == form.capture_screenshots &&
         isChecked(kReplayCheck) == form.allow_replay && isChecked(kLocalFillsCheck) == form.allow_local_fill_ids;
}

bool SetupWindow::State::toolsReady() const {
  return verified && formMatchesControls(verified_form) && callbacks.journalToolsReady &&
         callbacks.journalToolsReady();
}

void SetupWindow::State::updateStartButton() {
  bool enable = !discovery_running && !check_running && !shown_accounts.empty();
  if (enable) {
    std::string secret = controlText(kSecretEdit);
    ScrubOnExit scrub(secret);
    enable = controlText(kEmailEdit) == loaded_email && secret == loaded_secret;
  }
  EnableWindow(control(kStartButton), enable);
}

void SetupWindow::State::hideWindow() {
  show_requested = false;
  shown = false;
  KillTimer(self, kShowTimer);
  ++generation;
  check_cancel = true;
  discovery_cancel = true;
  ShowWindow(self, SW_HIDE);
}

void SetupWindow::State::relayout() {
  const bool advanced = isChecked(kAdvancedCheck);
  tools_ready = toolsReady();
  const bool setup = !journal_mode;
  showGroup(group_setup, setup);
  showGroup(group_basic, setup && !advanced);
  showGroup(group_advanced, setup && advanced);
  showGroup(group_journal, journal_mode && tools_ready);

  SetWindowTextW(self, journal_mode ? L"Quorbelle Journal note" : L"Quorbelle Sync setup");
  SetWindowTextW(control(kHeading), journal_mode ? L"Add a journal note" : L"Connect this chart to Quorbelle");
  SetWindowTextW(control(kJournalButton), journal_mode ? L"Connection settings" : L"Open journal");
  ShowWindow(control(kJournalButton), journal_mode || tools_ready ? SW_SHOW : SW_HIDE);

  const SetupValues stored = storedFormWithoutSecret();
  setControlText(kDestinationLabel, "Destination: " + stored.account_name);
  EnableWindow(control(kSaveNoteButton), tools_ready && stored.sync_notes);
  setControlText(kNoteHintLine, stored.sync_notes ? text::kNoteHint : text::kNoteSyncOff);

  const int y = setup ? (advanced ? 435 : 385) : (tools_ready ? 388 : 100);
  MoveWindow(control(kStatusLine), 24, y, 586, 76, TRUE);
  const int b = setup ? y + 124 : y + 90;
  MoveWindow(control(kJournalButton), 24, b, setup ? 150 : 180, 34, TRUE);
  MoveWindow(control(kStartButton), 190, b, 120, 34, TRUE);
  MoveWindow(control(kPauseButton), 324, b, 120, 34, TRUE);
  MoveWindow(control(kCloseButton), 478, b, 132, 34, TRUE);

  RECT rect{0, 0, 638, b + 54};
  AdjustWindowRectEx(&rect, static_cast<DWORD>(GetWindowLongPtrW(self, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(self, GWL_EXSTYLE)));
  SetWindowPos(self, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetupWindow::State::createControls() {
  font = CreateFontW(-15, 0, 0, 0, 400, 0, 0, 0, 1, 0, 0, 5, 0, L"Segoe UI");
  HINSTANCE module = GetModuleHandleW(nullptr);
  for (const ControlSpec& spec : kControls) {
    const bool edit = std::wstring_view(spec.cls) == L"EDIT";
    HWND h = CreateWindowExW(edit ? WS_EX_CLIENTEDGE : 0, spec.cls, spec.text, WS_CHILD | WS_VISIBLE | spec.style,
                             spec.x, spec.y, spec.w, spec.h, self,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)), module, nullptr);
    if (!h) throw std::runtime_error(text::kControlFailed);
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (spec.limit > 0) SendMessageW(h, EM_LIMITTEXT, static_cast<WPARAM>(spec.limit), 0);
    if (&spec == &kControls[kSourceLineIndex]) {
      SetWindowTextW(h, qbsync::setupTextToWide(source_line).c_str());
    }
    switch (spec.group) {
      case kSetup: group_setup.push_back(h); break;
      case kBasic: group_basic.push_back(h); break;
      case kAdvanced: group_advanced.push_back(h); break;
      case kJournal: group_journal.push_back(h); break;
      case kNone: break;
    }
  }
}

void SetupWindow::State::fillFromStoredForm() {
  SetupValues stored = storedForm();
  ScrubOnExit scrub(stored.secret);
  loaded_email = stored.email;
  loaded_secret = stored.secret;
  setControlText(kEmailEdit, stored.email);
  setControlText(kSecretEdit, stored.secret);
  setControlText(kSessionEdit, stored.session_id);
  setChecked(kSyncNotesCheck, stored.sync_notes);
  setChecked(kCaptureCheck, stored.capture_screenshots);
  setChecked(kReplayCheck, stored.allow_replay);
  setChecked(kLocalFillsCheck, stored.allow_local_fill_ids);
  if (!stored.account_id.empty()) {
    shown_accounts.push_back(SetupAccount{stored.account_id, stored.account_name});
    const std::wstring entry = qbsync::setupTextToWide(stored.account_name + " (saved)");
    SendMessageW(control(kAccountList), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    SendMessageW(control(kAccountList), CB_SETCURSEL, 0, 0);
  }
  EnableWindow(control(kStartButton), !stored.account_id.empty());
}

// ---- Window thread --------------------------------------------------------

thread_local const SetupWindow::State* SetupWindow::State::current_thread_owner = nullptr;

void SetupWindow::State::threadMain() {
  current_thread_owner = this;
  HINSTANCE module = GetModuleHandleW(nullptr);
  bool registered = false;
  std::string failure;
  try {
    class_name = L"QuorbelleSetup-" + std::to_wstring(reinterpret_cast<std::uintptr_t>(this));
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &State::windowProc;
    wc.hInstance = module;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = class_name.c_str();
    if (!RegisterClassExW(&wc)) throw std::runtime_error(text::kRegisterFailed);
    registered = true;

    owner = owner && IsWindow(owner) ? GetAncestor(owner, GA_ROOT) : nullptr;
    HWND w = CreateWindowExW(WS_EX_CONTROLPARENT, class_name.c_str(), L"Quorbelle Sync setup",
                             WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT, 654, 679, owner,
                             nullptr, module, this);
    if (!w) throw std::runtime_error(text::kOpenFailed);
    window.exchange(w);

    createControls();
    fillFromStoredForm();
    setChecked(kAdvancedCheck, false);
    relayout();
    SetTimer(self, kStatusTimer, 1000, nullptr);

    if (show_requested && !close_requested) PostMessageW(self, SETUP_MSG_SHOW, 0, 0);
    if (close_requested) PostMessageW(self, SETUP_MSG_CLOSE, 0, 0);
    runLoop();
  } catch (const std::exception& e) {
    failure = *e.what() ? e.what() : text::kCreateFailed;
  } catch (...) {
    failure = text::kCreateFailed;
  }
  if (HWND w = window.exchange(nullptr)) DestroyWindow(w);
  if (font) DeleteObject(font);
  font = nullptr;
  if (registered) UnregisterClassW(class_name.c_str(), module);
  // Published only once the window is gone: whoever reads the failure never
  // sees a handle beside it.
  if (!failure.empty()) {
    std::lock_guard<std::mutex> lock(mutex);
    failure_text = std::move(failure);
  }
  SetEvent(thread_ended);
}

void SetupWindow::State::runLoop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
      guarded([&] { hideWindow(); });
      continue;
    }
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN && journal_mode && GetKeyState(VK_CONTROL) < 0) {
      guarded([&] { saveNote(); });
      continue;
    }
    if (self && IsDialogMessageW(self, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

LRESULT CALLBACK SetupWindow::State::windowProc(HWND w, UINT message, WPARAM wp, LPARAM lp) {
  if (message == WM_NCCREATE) {
    auto* state = static_cast<State*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    state->self = w;
    SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
  }
  auto* state = reinterpret_cast<State*>(GetWindowLongPtrW(w, GWLP_USERDATA));
  if (!state) return DefWindowProcW(w, message, wp, lp);
  return state->handleMessage(w, message, wp, lp);
}

LRESULT SetupWindow::State::handleMessage(HWND w, UINT message, WPARAM wp, LPARAM lp) {
  switch (message) {
    case WM_CLOSE:
      guarded([&] { hideWindow(); });
      return 0;
    case WM_DESTROY:
      show_requested = false;
      shown = false;
      ++generation;
      check_cancel = true;
      discovery_cancel = true;
      KillTimer(w, kStatusTimer);
      KillTimer(w, kShowTimer);
      window.exchange(nullptr);
      PostQuitMessage(0);
      return 0;
    case SETUP_MSG_CLOSE:
      DestroyWindow(w);
      return 0;
    case SETUP_MSG_SHOW:
      guarded([&] { onShowRequest(); });
      return 0;
    case SETUP_MSG_ACCOUNTS_LOADED:
      guarded([&] { onAccountsLoaded(); });
      return 0;
    case SETUP_MSG_CHECK_DONE:
      guarded([&] { onCheckDone(); });
      return 0;
    case WM_TIMER:
      if (owner && !IsWindow(owner)) {
        DestroyWindow(w);  // the chart is gone
        return 0;
      }
      if (wp == kShowTimer) guarded([&] { onShowRequest(); });
      if (wp == kStatusTimer) guarded([&] { onStatusTimer(); });
      return 0;
    case WM_COMMAND:
      if (handleCommand(LOWORD(wp), HIWORD(wp))) return 0;
      break;
    default:
      break;
  }
  return DefWindowProcW(w, message, wp, lp);
}

// ---- Public object --------------------------------------------------------

SetupWindow::SetupWindow(std::string sourceLine, SetupValues initial, SetupCallbacks callbacks, void* ownerWindow)
    : state_(std::make_unique<State>(std::move(sourceLine), std::move(initial), std::move(callbacks),
                                     static_cast<HWND>(ownerWindow))) {
  state_->thread_ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!state_->thread_ended) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  }
  State* state = state_.get();
  state_->window_thread = std::thread([state] { state->threadMain(); });
}

SetupWindow::~SetupWindow() { closeWindow(); }

void SetupWindow::requestShow(bool noteMode) {
  state_->requested_mode = noteMode;
  state_->show_requested = true;
  if (HWND w = state_->window.load()) PostMessageW(w, SETUP_MSG_SHOW, 0, 0);
}

void SetupWindow::closeWindow() {
  State& s = *state_;
  if (State::current_thread_owner == &s) {
    throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur));
  }
  s.close_requested = true;
  s.discovery_cancel = true;
  s.check_cancel = true;
  if (HWND w = s.window.load()) PostMessageW(w, SETUP_MSG_CLOSE, 0, 0);
  if (s.window_thread.joinable()) {
    // Destroying an active owned window activates its owner, which sends
    // messages to this (the owner's) thread; answer them while waiting, but
    // leave posted messages queued for the host's own loop.
    for (;;) {
      const DWORD r = MsgWaitForMultipleObjectsEx(1, &s.thread_ended, INFINITE, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
      if (r != WAIT_OBJECT_0 + 1) break;
      MSG msg;
      PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    s.window_thread.join();
  }
  if (s.discovery_thread.joinable()) s.discovery_thread.join();
  if (s.check_thread.joinable()) s.check_thread.join();
}

std::string SetupWindow::failureText() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->failure_text;
}

void* SetupWindow::windowHandle() const { return state_->window.load(); }

}  // namespace qbnative
