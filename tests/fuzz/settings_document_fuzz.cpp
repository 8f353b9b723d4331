// Saved settings documents as the controller adopts them, and the settings
// record's validation and derived forms. Whatever is adopted saves again, and
// what is saved adopts back to the same document.
#include <cstddef>
#include <cstdint>

#include "fuzz_source.h"
#include "settings/connection_settings.h"
#include "settings/saved_state.h"

namespace {

void exercise(const qbsync::ConnectionSettings& s) {
  qbfuzz::attempt([&] { s.validate(); });
  for (const char* detected : {"future", "stock", ""}) qbfuzz::attempt([&] { s.checkSource(detected); });
  qbfuzz::attempt([&] { s.bindingDocument().dump(); });
  qbfuzz::attempt([&] { qbsync::connectionFingerprint(s, "secret", false); });
  qbfuzz::attempt([&] { qbsync::outboxScopeKey(s); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  nlohmann::json document;
  try {
    // The settings file's reader: strict JSON without comments.
    document = nlohmann::json::parse(data, data + size, nullptr, true, false);
  } catch (const std::exception&) {
    return 0;
  }
  qbfuzz::attempt([&] { exercise(qbsync::fromSettingsDocument(document)); });
  if (document.is_object() && document.contains("settings")) {
    qbfuzz::attempt([&] { exercise(qbsync::fromSettingsDocument(document["settings"])); });
  }

  qbsync::SavedState state;
  try {
    state = qbsync::adoptSavedDocument(document, "Sim1", "ESZ25", true, false);
  } catch (const std::exception&) {
    return 0;
  }
  exercise(state.settings);
  nlohmann::json saved;
  try {
    saved = qbsync::savedDocument(state);
  } catch (const std::exception&) {
    return 0;  // an origin the save refuses with its code
  }
  try {
    const qbsync::SavedState again = qbsync::adoptSavedDocument(
        nlohmann::json::parse(saved.dump()), "Sim1", "ESZ25", true, false);
    if (qbsync::savedDocument(again) != saved) qbfuzz::broken("a saved document adopts as another");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "re-adopt: %s\n", e.what());
    qbfuzz::broken("a saved document is refused when loaded");
  }
  return 0;
}
