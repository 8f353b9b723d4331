// The trader's setup and journal-note window: a Win32 top-level window owned
// by the chart's root window, on a thread of its own with its own message
// loop, so the chart thread never waits on it. Everything it asks of the
// controller goes through SetupCallbacks.
#ifndef QB_SETUP_SETUP_WINDOW_H
#define QB_SETUP_SETUP_WINDOW_H

#include <memory>
#include <string>

#include "settings/setup_values.h"
#include "setup/setup_callbacks.h"

namespace qbnative {

class SetupWindow {
 public:
  // Starts the window thread (the window is created hidden). Throws
  // std::system_error when the thread cannot start.
  SetupWindow(std::string sourceLine, SetupValues initial, SetupCallbacks callbacks, void* ownerWindow);
  // closeWindow(), then releases everything.
  ~SetupWindow();
  SetupWindow(const SetupWindow&) = delete;
  SetupWindow& operator=(const SetupWindow&) = delete;

  // Any thread: show the window in journal-note mode or setup mode.
  void requestShow(bool noteMode);
  // The controller's thread, never the window thread, never while holding
  // the controller mutex: destroys the window and joins every thread.
  void closeWindow();
  // Why the window thread ended early ("" when it did not).
  std::string failureText() const;
  // The top-level window handle (HWND), null before creation and after destruction.
  void* windowHandle() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qbnative

#endif
