// Internal to the setup library: the window object's fields and the
// window-thread operations shared by the window (setup_window.cpp) and its
// commands (setup_commands.cpp).
#ifndef QB_SETUP_SETUP_WINDOW_STATE_H
#define QB_SETUP_SETUP_WINDOW_STATE_H

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/setup_account.h"
#include "settings/secure_zero.h"
#include "settings/setup_values.h"
#include "setup/setup_callbacks.h"
#include "setup/setup_window.h"

namespace qbnative {

// Posted with both parameters 0.
constexpr UINT SETUP_MSG_SHOW = 0x8064;
constexpr UINT SETUP_MSG_ACCOUNTS_LOADED = 0x8065;
constexpr UINT SETUP_MSG_CLOSE = 0x8066;
constexpr UINT SETUP_MSG_CHECK_DONE = 0x8067;

constexpr UINT_PTR kStatusTimer = 1;  // 1000 ms, the window's whole life
constexpr UINT_PTR kShowTimer = 2;    // 100 ms, while a show waits for a disabled owner

enum SetupControl : int {
  kEmailEdit = 100,
  kSecretEdit = 101,
  kLoadButton = 102,
  kAccountList = 103,
  kSyncNotesCheck = 106,
  kCaptureCheck = 107,
  kNoteEdit = 108,
  kSaveNoteButton = 109,
  kCaptureButton = 110,
  kStartButton = 111,
  kPauseButton = 112,
  kStatusLine = 113,
  kSessionEdit = 114,
  kCloseButton = 115,
  kReplayCheck = 116,
  kLocalFillsCheck = 117,
  kHintLine = 119,
  kAdvancedCheck = 118,
  kDestinationLabel = 120,
  kHeading = 121,
  kJournalButton = 122,
  kNoteHintLine = 123,
};

// Email and secret handed to the discovery worker.
struct SetupCredentials;

// Zeroes a secret text when the scope ends, however it ends.
class ScrubOnExit {
 public:
  explicit ScrubOnExit(std::string& text) : text_(text) {}
  ~ScrubOnExit() { qbsync::secureZero(text_); }
  ScrubOnExit(const ScrubOnExit&) = delete;
  ScrubOnExit& operator=(const ScrubOnExit&) = delete;

 private:
  std::string& text_;
};

struct SetupWindow::State {
  State(std::string sourceLine, SetupValues initial, SetupCallbacks cbs, HWND ownerWindow);
  ~State();

  const std::string source_line;
  const SetupCallbacks callbacks;

  // Guarded by mutex.
  mutable std::mutex mutex;
  SetupValues stored_form;
  std::vector<SetupAccount> loaded_accounts;
  std::string discovery_error;
  std::string failure_text;
  std::string discovery_email, discovery_secret;
  std::string check_error;

  // Window thread only.
  HWND self = nullptr;
  std::vector<SetupAccount> shown_accounts;
  std::string error_status, info_status;
  std::string loaded_email, loaded_secret;
  SetupValues pending_form, verified_form;
  std::uint32_t generation = 0;
  std::uint32_t generation_at_check = 0;
  bool start_after_check = false;
  bool verified = false;
  bool shown = false;
  bool tools_ready = false;
  bool journal_mode = false;
  HWND owner = nullptr;
  HFONT font = nullptr;
  std::wstring class_name;
  std::vector<HWND> group_setup, group_basic, group_advanced, group_journal;

  // The window thread while it runs; the controller's thread once it ended.
  std::thread window_thread, discovery_thread, check_thread;
  // Set by the window thread as its very last step, so the closing thread can
  // wait on it while still answering messages sent to the owner window.
  HANDLE thread_ended = nullptr;

  std::atomic<HWND> window{nullptr};
  std::atomic<bool> close_requested{false};
  std::atomic<bool> show_requested{false};
  std::atomic<bool> discovery_running{false};
  std::atomic<bool> check_running{false};
  std::atomic<bool> discovery_cancel{false};
  std::atomic<bool> check_cancel{false};
  std::atomic<bool> requested_mode{false};

  // The window whose window or worker thread the caller is, if any: set
  // first thing on each of them, so closeWindow can refuse to join its own
  // thread without reading the thread objects the window thread assigns.
  static thread_local const State* current_thread_owner;

  // Window thread (setup_window.cpp).
  void threadMain();
  static LRESULT CALLBACK windowProc(HWND w, UINT message, WPARAM wp, LPARAM lp);
  LRESULT handleMessage(HWND w, UINT message, WPARAM wp, LPARAM lp);
  void createControls();
  void fillFromStoredForm();
  void runLoop();
  HWND control(int id) const { return GetDlgItem(self, id); }
  std::string controlText(int id) const;
  void setControlText(int id, const std::string& text);
  void showStatus(const std::string& text);
  bool isChecked(int id) const;
  void setChecked(int id, bool on);
  bool formMatchesControls(const SetupValues& form) const;
  bool toolsReady() const;
  void updateStartButton();
  void hideWindow();
  void relayout();
  SetupValues storedForm() const;
  // The stored form with an empty secret, for reads that do not need it.
  SetupValues storedFormWithoutSecret();
  // Runs a command or timer step; an escaping exception ends in the status line.
  template <typename F>
  void guarded(F&& step);
  void reportFailure(const char* text);

  // Commands and worker results (setup_commands.cpp).
  bool handleCommand(int id, int code);
  void onShowRequest();
  void onStatusTimer();
  void invalidateCheck();
  void startAccountLoad();
  void onAccountsLoaded();
  SetupValues readForm();
  void startConnectionCheck(bool startAfterCheck);
  void onCheckDone();
  void pauseSync();
  void toggleMode();
  void saveNote();
  void captureChart();
  void discoveryWorker(std::unique_ptr<SetupCredentials> credentials);
  void checkWorker(std::unique_ptr<SetupValues> form);
  void postToWindow(UINT message);
};

template <typename F>
void SetupWindow::State::guarded(F&& step) {
  try {
    step();
  } catch (const std::exception& e) {
    reportFailure(e.what());
  } catch (...) {
    reportFailure(nullptr);
  }
}

}  // namespace qbnative

#endif
