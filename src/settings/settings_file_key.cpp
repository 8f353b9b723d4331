#include "settings/settings_file.h"

#include "support/sha256.h"

namespace qbsync {

std::string settingsFileKey(const std::string& account, const std::string& symbol, bool simulation,
                            bool replay) {
  const nlohmann::json scope = nlohmann::json::array({account, symbol, simulation, replay});
  return sha256Hex(scope.dump()).substr(0, 32);
}

}  // namespace qbsync
