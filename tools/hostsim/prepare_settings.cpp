#include "prepare_settings.h"

#include <cstdio>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "settings/connection_settings.h"
#include "settings/saved_state.h"
#include "settings/settings_file.h"
#include "storage/folder_rules.h"

namespace qbhostsim {

std::string prepareSettings(const std::string& dataFolder, const std::string& documentText) {
  nlohmann::json document = nlohmann::json::parse(documentText);
  if (!document.is_object() || !document.contains("settings")) {
    throw std::runtime_error("the document needs a \"settings\" object");
  }
  const qbsync::ConnectionSettings scope = qbsync::fromSettingsDocument(document["settings"]);
  const qbsync::SavedState state = qbsync::adoptSavedDocument(document, scope.source_account, scope.source_symbol,
                                                              scope.simulation, scope.replay);
  qbsync::zeroSecretIn(document);
  try {
    state.settings.validate();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qb-hostsim: prepare-settings: the settings do not validate (%s); written anyway\n",
                 e.what());
  }

  const std::string root = dataFolder + "\\QuorbelleSync";
  qbsync::ensureDirectory(dataFolder);
  qbsync::ensureDirectory(root);
  qbsync::ensureDirectory(root + "\\settings");
  const std::string path = root + "\\settings\\" +
                           qbsync::settingsFileKey(scope.source_account, scope.source_symbol, scope.simulation,
                                                   scope.replay) +
                           ".bin";
  nlohmann::json saved = qbsync::savedDocument(state);
  try {
    qbsync::saveSettingsFile(path, saved);
  } catch (...) {
    qbsync::zeroSecretIn(saved);
    throw;
  }
  qbsync::zeroSecretIn(saved);
  return path;
}

}  // namespace qbhostsim
