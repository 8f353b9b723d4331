#include "setup_driver.h"

#include <string>

namespace qbhostsim {
namespace {

constexpr int kStatusLine = 113;
constexpr DWORD kPollMs = 20;

std::wstring wide(const std::string& text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring out(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), n);
  return out;
}

std::string narrow(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
  return out;
}

// A window's own text, read without a message, so a busy window thread
// cannot hold the driver (edit controls keep their text elsewhere).
std::string ownText(HWND w) {
  wchar_t buffer[2048] = {};
  InternalGetWindowText(w, buffer, 2048);
  return narrow(buffer);
}

std::string oneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out.push_back(c);
  }
  return out;
}

struct Search {
  HWND owner;
  std::wstring caption;
  bool visibleOnly;
  HWND found;
};

BOOL CALLBACK matchWindow(HWND w, LPARAM context) {
  auto& s = *reinterpret_cast<Search*>(context);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid != GetCurrentProcessId() || GetWindow(w, GW_OWNER) != s.owner) return TRUE;
  if (s.visibleOnly && !IsWindowVisible(w)) return TRUE;
  wchar_t caption[512] = {};
  InternalGetWindowText(w, caption, 512);
  if (!s.caption.empty() && std::wstring_view(caption).find(s.caption) == std::wstring_view::npos) return TRUE;
  s.found = w;
  return FALSE;
}

HWND ownedWindow(HWND owner, const std::string& caption, bool visibleOnly) {
  Search s{owner, wide(caption), visibleOnly, nullptr};
  EnumWindows(&matchWindow, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

// Polls until done() holds or timeoutMs pass; false on timeout.
template <typename F>
bool waitFor(F&& done, std::int32_t timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(kPollMs);
  }
}

}  // namespace

SetupDriver::SetupDriver(HWND chartWindow, std::vector<SetupAction> actions, std::FILE* out)
    : chart_(chartWindow), actions_(std::move(actions)), out_(out) {
  thread_ = std::thread([this] { run(); });
}

SetupDriver::~SetupDriver() {
  if (thread_.joinable()) thread_.join();
}

void SetupDriver::run() {
  bool ok = true;
  for (std::size_t i = 0; i < actions_.size() && ok; ++i) ok = perform(actions_[i], i);
  std::fprintf(out_, ok ? "HOSTSIM SETUP DONE\n" : "HOSTSIM SETUP STOPPED\n");
  std::fflush(out_);
  succeeded_ = ok;
  finished_ = true;
}

bool SetupDriver::perform(const SetupAction& a, std::size_t index) {
  const ULONGLONG started = GetTickCount64();
  auto report = [&](const std::string& what) {
    std::fprintf(out_, "HOSTSIM SETUP %zu %s after %llu ms\n", index, oneLine(what).c_str(),
                 static_cast<unsigned long long>(GetTickCount64() - started));
    std::fflush(out_);
    return true;
  };
  auto failed = [&](const std::string& why) {
    std::fprintf(out_, "HOSTSIM SETUP FAILED %zu %s\n", index, oneLine(why).c_str());
    std::fflush(out_);
    return false;
  };

  if (a.kind == SetupAction::Kind::kSleep) {
    Sleep(static_cast<DWORD>(a.timeoutMs));
    return report("slept");
  }
  if (a.kind == SetupAction::Kind::kWaitWindow) {
    // Visible, and its thread past creation: a message is answered only once
    // the window's loop runs.
    HWND found = nullptr;
    const bool up = waitFor(
        [&] {
          found = ownedWindow(chart_, a.text, true);
          DWORD_PTR ignored = 0;
          return found && SendMessageTimeoutW(found, WM_NULL, 0, 0, SMTO_NORMAL, 50, &ignored) != 0;
        },
        a.timeoutMs);
    if (!up) return failed("no visible window owned by the chart with caption \"" + a.text + "\"");
    window_ = found;
    return report("window \"" + ownText(found) + "\"");
  }
  if (!window_ || !IsWindow(window_)) window_ = ownedWindow(chart_, "", false);
  if (!window_) return failed("no setup window (start with wait_window)");

  const DWORD sendTimeout = static_cast<DWORD>(a.timeoutMs);
  DWORD_PTR result = 0;
  HWND control = a.control ? GetDlgItem(window_, a.control) : nullptr;
  if (a.control && !control) return failed("the window has no control " + std::to_string(a.control));
  const std::string id = std::to_string(a.control);

  switch (a.kind) {
    case SetupAction::Kind::kType: {
      std::wstring text = wide(a.text);
      const bool hidden = (GetWindowLongW(control, GWL_STYLE) & ES_PASSWORD) != 0;
      const LRESULT sent = SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                                               SMTO_NORMAL, sendTimeout, &result);
      SecureZeroMemory(text.data(), text.size() * sizeof(wchar_t));
      if (!sent) return failed("control " + id + " did not take the text in time");
      // A password edit's text is never printed.
      return report("type " + id +
                    (hidden ? " (" + std::to_string(a.text.size()) + " bytes, hidden)" : " \"" + a.text + "\""));
    }
    case SetupAction::Kind::kPick: {
      const std::wstring entry = wide(a.text);
      LRESULT position = -1;
      const bool listed = waitFor(
          [&] {
            if (a.index >= 0) {
              position = SendMessageW(control, CB_GETCOUNT, 0, 0) > a.index ? a.index : -1;
            } else {
              position = SendMessageW(control, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                      reinterpret_cast<LPARAM>(entry.c_str()));
            }
            return position >= 0;
          },
          a.timeoutMs);
      if (!listed) {
        return failed("list " + id + " has no entry " +
                      (a.index >= 0 ? std::to_string(a.index) : "\"" + a.text + "\"") + " (" +
                      std::to_string(SendMessageW(control, CB_GETCOUNT, 0, 0)) + " entries)");
      }
      SendMessageTimeoutW(control, CB_SETCURSEL, static_cast<WPARAM>(position), 0, SMTO_NORMAL, sendTimeout, &result);
      // A program's selection sends no notification; the list would, for the trader's pick.
      if (!SendMessageTimeoutW(window_, WM_COMMAND, MAKEWPARAM(a.control, CBN_SELCHANGE),
                               reinterpret_cast<LPARAM>(control), SMTO_NORMAL, sendTimeout, &result)) {
        return failed("the window did not take the selection in time");
      }
      wchar_t shown[600] = {};
      SendMessageW(control, CB_GETLBTEXT, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(shown));
      return report("pick " + id + " entry " + std::to_string(position) + " \"" + narrow(shown) + "\"");
    }
    case SetupAction::Kind::kClick: {
      const bool ready = waitFor([&] { return IsWindowVisible(control) && IsWindowEnabled(control); }, a.timeoutMs);
      if (!ready) return failed("control " + id + " \"" + ownText(control) + "\" stayed hidden or disabled");
      if (!SendMessageTimeoutW(control, BM_CLICK, 0, 0, SMTO_NORMAL, sendTimeout, &result)) {
        return failed("control " + id + " did not take the click in time");
      }
      return report("click " + id + " \"" + ownText(control) + "\"");
    }
    case SetupAction::Kind::kStatus: {
      HWND line = GetDlgItem(window_, kStatusLine);
      std::string shown;
      const bool seen = waitFor(
          [&] {
            shown = ownText(line);
            return shown.find(a.text) != std::string::npos;
          },
          a.timeoutMs);
      if (!seen) return failed("status never showed \"" + a.text + "\"; it shows \"" + shown + "\"");
      return report("status \"" + shown + "\"");
    }
    case SetupAction::Kind::kClose: {
      if (!SendMessageTimeoutW(window_, WM_CLOSE, 0, 0, SMTO_NORMAL, sendTimeout, &result)) {
        return failed("the window did not take WM_CLOSE in time");
      }
      if (!waitFor([&] { return !IsWindowVisible(window_); }, a.timeoutMs)) return failed("the window stayed visible");
      return report("closed");
    }
    default:
      return failed("unknown action");
  }
}

}  // namespace qbhostsim
