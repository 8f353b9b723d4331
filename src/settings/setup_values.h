// The values the setup window edits and hands to the controller, which turns
// them into candidate connection settings (settingsFromForm). A plain value.
#ifndef QB_SETTINGS_SETUP_VALUES_H
#define QB_SETTINGS_SETUP_VALUES_H

#include <string>

namespace qbnative {

struct SetupValues {
  std::string email;
  std::string secret;
  std::string account_id;
  std::string account_name;
  std::string asset_type = "future";
  std::string api_symbol;
  std::string session_id;
  bool enabled = false;
  bool sync_notes = true;
  bool capture_screenshots = false;
  bool allow_replay = false;
  bool allow_local_fill_ids = false;
};

}  // namespace qbnative

#endif
