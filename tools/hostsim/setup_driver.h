// Plays a step's setup actions against the study's setup window, as a trader
// would: on a thread of its own, with window messages only (WM_SETTEXT,
// CB_SETCURSEL with CBN_SELCHANGE, BM_CLICK, WM_CLOSE), so the chart thread
// keeps making its calls and pumping the chart window while the window
// works. Prints one "HOSTSIM SETUP ..." line per action. Windows only.
#ifndef QB_HOSTSIM_SETUP_DRIVER_H
#define QB_HOSTSIM_SETUP_DRIVER_H

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "scenario.h"

namespace qbhostsim {

class SetupDriver {
 public:
  // Starts the thread. chartWindow is the owner the setup window must have.
  SetupDriver(HWND chartWindow, std::vector<SetupAction> actions, std::FILE* out);
  // Joins the thread; a running action ends at its own timeout.
  ~SetupDriver();
  SetupDriver(const SetupDriver&) = delete;
  SetupDriver& operator=(const SetupDriver&) = delete;

  bool finished() const { return finished_; }
  // After finished(): every action succeeded.
  bool succeeded() const { return succeeded_; }

 private:
  void run();
  bool perform(const SetupAction& action, std::size_t index);

  HWND chart_;
  std::vector<SetupAction> actions_;
  std::FILE* out_;
  HWND window_ = nullptr;
  std::atomic<bool> finished_{false};
  std::atomic<bool> succeeded_{false};
  std::thread thread_;
};

}  // namespace qbhostsim

#endif
