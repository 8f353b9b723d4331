// What the setup window may ask of its controller. Each callback may be
// empty; the window reports an empty one as unavailable. Callbacks take the
// controller's own mutex; the window never holds its mutex while calling.
#ifndef QB_SETUP_SETUP_CALLBACKS_H
#define QB_SETUP_SETUP_CALLBACKS_H

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "service/setup_account.h"
#include "settings/setup_values.h"

namespace qbnative {

struct SetupCallbacks {
  // Worker thread. Throws a code or user text.
  std::function<std::vector<SetupAccount>(const std::string& email, const std::string& secret,
                                          const std::atomic<bool>& cancel)>
      discoverAccounts;
  // Worker thread. Throws a code or user text.
  std::function<void(const SetupValues& form, const std::atomic<bool>& cancel)> checkConnection;
  // Window thread.
  std::function<bool()> journalToolsReady;
  // Window thread: saves Start or Pause. Throws a code.
  std::function<void(const SetupValues& form)> applySetup;
  std::function<std::string()> statusText;
  std::function<void(const std::string& note)> saveNote;
  std::function<void()> captureChart;
};

}  // namespace qbnative

#endif
