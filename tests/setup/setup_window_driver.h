// Drives a real SetupWindow from the test thread: a plain top-level window as
// the chart (the owner), fake controller callbacks that record what they
// received and can be held on a gate, and window messages to type, pick and
// click. The test thread plays the chart thread, so every wait pumps its
// messages.
#ifndef QB_TESTS_SETUP_SETUP_WINDOW_DRIVER_H
#define QB_TESTS_SETUP_SETUP_WINDOW_DRIVER_H

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "setup/setup_callbacks.h"
#include "setup/setup_window.h"

namespace qbtest {

inline std::wstring wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

inline std::string narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// Dispatches everything queued for this thread, as the chart thread's loop would.
inline void pumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// Waits, pumping messages, until done() holds or the time runs out.
inline bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pumpMessages();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

// A manual-reset event that a fake callback can be held on.
class Gate {
 public:
  Gate() : event_(CreateEventW(nullptr, TRUE, TRUE, nullptr)) {}
  ~Gate() { CloseHandle(event_); }
  Gate(const Gate&) = delete;
  Gate& operator=(const Gate&) = delete;
  void hold() { ResetEvent(event_); }
  // Holds the caller even past a cancel, until release(), so the test can
  // look at the window while the cancelled work is still running.
  void holdPastCancel() {
    past_cancel_ = true;
    hold();
  }
  void release() { SetEvent(event_); }
  // Returns false when cancel was set before the gate opened.
  bool pass(const std::atomic<bool>* cancel) {
    entered_ = true;
    for (;;) {
      if (WaitForSingleObject(event_, 5) == WAIT_OBJECT_0) return !saw_cancel_;
      if (cancel && *cancel && !saw_cancel_) {
        saw_cancel_ = true;
        if (!past_cancel_) return false;
      }
    }
  }
  bool entered() const { return entered_; }
  bool sawCancel() const { return saw_cancel_; }

 private:
  HANDLE event_;
  std::atomic<bool> entered_{false};
  std::atomic<bool> saw_cancel_{false};
  std::atomic<bool> past_cancel_{false};
};

// The controller side, recorded.
struct FakeController {
  std::mutex mutex;
  std::vector<std::pair<std::string, std::string>> discoveries;
  std::vector<qbnative::SetupValues> checks;
  std::vector<qbnative::SetupValues> applies;
  std::vector<std::string> notes;
  int captures = 0;

  std::vector<qbnative::SetupAccount> accounts;
  std::string discovery_error;  // thrown as std::runtime_error when not empty
  bool discovery_throws_other = false;
  std::string check_error;
  std::atomic<bool> tools_ready{true};
  std::string status;  // statusText result
  Gate discovery_gate, check_gate, apply_gate;
  std::function<void()> on_status;  // runs inside statusText

  template <typename T>
  std::vector<T> copyOf(const std::vector<T>& v) {
    std::lock_guard<std::mutex> lock(mutex);
    return v;
  }
  std::size_t checkCount() { return copyOf(checks).size(); }
  // The window's status timer reads the status on its own thread.
  void setStatus(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    status = text;
  }
  std::size_t applyCount() { return copyOf(applies).size(); }

  qbnative::SetupCallbacks callbacks() {
    qbnative::SetupCallbacks c;
    c.discoverAccounts = [this](const std::string& email, const std::string& secret,
                                const std::atomic<bool>& cancel) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        discoveries.emplace_back(email, secret);
      }
      if (!discovery_gate.pass(&cancel)) throw std::runtime_error("ACCOUNT_LOADING_CANCELLED");
      if (discovery_throws_other) throw 42;
      if (!discovery_error.empty()) throw std::runtime_error(discovery_error);
      return accounts;
    };
    c.checkConnection = [this](const qbnative::SetupValues& form, const std::atomic<bool>& cancel) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        checks.push_back(form);
      }
      if (!check_gate.pass(&cancel)) throw std::runtime_error("CONNECTION_CHECK_CANCELLED");
      if (!check_error.empty()) throw std::runtime_error(check_error);
    };
    c.journalToolsReady = [this] { return tools_ready.load(); };
    c.applySetup = [this](const qbnative::SetupValues& form) {
      apply_gate.pass(nullptr);
      std::lock_guard<std::mutex> lock(mutex);
      applies.push_back(form);
    };
    c.statusText = [this] {
      if (on_status) on_status();
      std::lock_guard<std::mutex> lock(mutex);
      return status;
    };
    c.saveNote = [this](const std::string& note) {
      std::lock_guard<std::mutex> lock(mutex);
      notes.push_back(note);
    };
    c.captureChart = [this] {
      std::lock_guard<std::mutex> lock(mutex);
      ++captures;
    };
    return c;
  }
};

// A plain top-level window standing in for the chart.
class OwnerWindow {
 public:
  OwnerWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QbTestChart";
    RegisterClassW(&wc);  // fails harmlessly once registered
    root_ = CreateWindowExW(0, L"QbTestChart", L"Chart", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 600, nullptr,
                            nullptr, wc.hInstance, nullptr);
    child_ = CreateWindowExW(0, L"STATIC", L"plot", WS_CHILD | WS_VISIBLE, 0, 0, 400, 300, root_, nullptr,
                             wc.hInstance, nullptr);
  }
  ~OwnerWindow() {
    if (IsWindow(root_)) DestroyWindow(root_);
  }
  HWND root() const { return root_; }
  HWND child() const { return child_; }

 private:
  HWND root_ = nullptr;
  HWND child_ = nullptr;
};

// Messages into the window's controls. SendMessage to the window thread
// returns once the window thread handled the message (and any command it
// triggered), so results of synchronous commands can be read right after.
class Driver {
 public:
  explicit Driver(qbnative::SetupWindow& window) : window_(window) {}

  // The handle is published before the controls exist; a message sent to the
  // window is answered only once its thread reaches the message loop, after
  // the controls are created, filled and laid out.
  bool waitCreated(int timeoutMs = 5000) {
    return pumpUntil(
        [&] {
          HWND w = hwnd();
          DWORD_PTR ignored = 0;
          return w && SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_NORMAL, 50, &ignored) != 0;
        },
        timeoutMs);
  }
  HWND hwnd() const { return static_cast<HWND>(window_.windowHandle()); }
  HWND ctl(int id) const { return GetDlgItem(hwnd(), id); }

  void type(int id, const std::string& utf8) {
    const std::wstring w = wide(utf8);
    SendMessageW(ctl(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(w.c_str()));
  }
  void click(int id) { SendMessageW(ctl(id), BM_CLICK, 0, 0); }
  // The command as the button would send it, also when the button is disabled.
  void command(int id) {
    SendMessageW(hwnd(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(ctl(id)));
  }
  // Enter as the keyboard would deliver it to control id, with the Ctrl key
  // held or not. The key state is the window thread's own, set through a
  // short input attachment, so no foreground window or real keyboard is needed.
  void pressEnter(int id, bool ctrl) {
    setCtrl(ctrl);
    PostMessageW(ctl(id), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PostMessageW(ctl(id), WM_KEYUP, VK_RETURN, 0xC01C0001);
  }
  void setCtrl(bool down) {
    const DWORD me = GetCurrentThreadId();
    const DWORD them = GetWindowThreadProcessId(hwnd(), nullptr);
    AttachThreadInput(me, them, TRUE);
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = keys[VK_LCONTROL] = down ? 0x80 : 0;
    SetKeyboardState(keys);
    AttachThreadInput(me, them, FALSE);
  }
  void choose(int index) {
    SendMessageW(ctl(103), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(hwnd(), WM_COMMAND, MAKEWPARAM(103, CBN_SELCHANGE), reinterpret_cast<LPARAM>(ctl(103)));
  }
  int selection() const { return static_cast<int>(SendMessageW(ctl(103), CB_GETCURSEL, 0, 0)); }
  int entries() const { return static_cast<int>(SendMessageW(ctl(103), CB_GETCOUNT, 0, 0)); }
  std::string entry(int i) const {
    wchar_t buffer[600] = {};
    SendMessageW(ctl(103), CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
    return narrow(buffer);
  }

  // Reads without sending a message, so it works while the window thread is
  // busy. Only the window's own text: an edit control keeps what it holds in
  // its own buffer, which this does not see.
  std::string text(HWND h) const {
    wchar_t buffer[2048] = {};
    InternalGetWindowText(h, buffer, 2048);
    return narrow(buffer);
  }
  // What a control shows: an edit control is asked with WM_GETTEXT (its
  // thread must be free to answer), any other is read directly.
  std::string text(int id) const {
    HWND h = ctl(id);
    wchar_t cls[16] = {};
    GetClassNameW(h, cls, 16);
    if (lstrcmpiW(cls, L"Edit") != 0) return text(h);
    std::wstring buffer(16384, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), SMTO_NORMAL,
                             2000, &got)) {
      throw std::runtime_error("the edit control did not answer WM_GETTEXT");
    }
    buffer.resize(static_cast<std::size_t>(got));
    return narrow(buffer);
  }
  std::string status() const { return text(113); }
  std::string caption() const { return text(hwnd()); }
  bool waitStatus(const std::string& expected, int timeoutMs = 5000) {
    return pumpUntil([&] { return status() == expected; }, timeoutMs);
  }

  bool visible(int id) const { return (GetWindowLongW(ctl(id), GWL_STYLE) & WS_VISIBLE) != 0; }
  bool enabled(int id) const { return IsWindowEnabled(ctl(id)) != 0; }
  bool checked(int id) const { return SendMessageW(ctl(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  bool windowVisible() const { return IsWindowVisible(hwnd()) != 0; }
  RECT clientRect() const {
    RECT r{};
    GetClientRect(hwnd(), &r);
    return r;
  }
  RECT controlRect(int id) const {
    RECT r{};
    GetWindowRect(ctl(id), &r);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&r), 2);
    return r;
  }

 private:
  qbnative::SetupWindow& window_;
};

inline qbnative::SetupAccount account(const std::string& id, const std::string& name) {
  return qbnative::SetupAccount{id, name};
}

inline const std::string kAccountA = "0b7e2c9e-4f1a-4c2b-9d3e-1a2b3c4d5e6f";
inline const std::string kAccountB = "7d1f0a3b-2c4d-4e5f-8a9b-0c1d2e3f4a5b";

// A saved setup that is complete enough for the automatic check on show.
inline qbnative::SetupValues savedSetup() {
  qbnative::SetupValues v;
  v.email = "trader@example.com";
  v.secret = "s3cret-key";
  v.account_id = kAccountA;
  v.account_name = "Main";
  v.session_id = "session-1";
  v.enabled = true;
  return v;
}

}  // namespace qbtest

#endif
