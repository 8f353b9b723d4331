// What the controller keeps in the saved settings file, and the rules a
// loaded document must pass before any of it is adopted. Pure: no file or
// platform calls; any thread.
#ifndef QB_SETTINGS_SAVED_STATE_H
#define QB_SETTINGS_SAVED_STATE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "settings/connection_settings.h"

namespace qbsync {

inline constexpr std::size_t kMaxSavedNotes = 64;
inline constexpr std::size_t kMaxSavedCaptures = 10;
inline constexpr std::size_t kMaxSavedNoteBytes = 12000;
inline constexpr std::size_t kMaxSavedSessionIdBytes = 128;

// The controller's saved state. The secret's bytes are zeroed when the
// record is destroyed.
struct SavedState {
  SavedState() = default;
  SavedState(const SavedState&) = default;
  SavedState(SavedState&&) = default;
  SavedState& operator=(const SavedState&) = default;
  SavedState& operator=(SavedState&&) = default;
  ~SavedState();

  ConnectionSettings settings;
  std::string secret;
  bool allowReplay = false;
  std::int32_t noteRevision = 0;
  std::int32_t screenshotRevision = 0;
  nlohmann::json pendingNotes = nlohmann::json::array();        // [{"revision": n, "text": s}], oldest first
  nlohmann::json pendingScreenshots = nlohmann::json::array();  // [n], oldest first
};

// Checks a loaded settings document against the scope that named its file
// and returns its state; nothing is returned unless every rule passed. The
// rules run in a fixed order and the first failure throws:
//   - the settings member: whatever fromSettingsDocument throws (a missing
//     member reads as null, a type error);
//   - std::runtime_error "SAVED_SOURCE_MISMATCH": its source account,
//     symbol, simulation or replay flag differ from the arguments;
//   - nlohmann::json::out_of_range when "secret" is absent,
//     nlohmann::json::type_error when it is not a string, when
//     "allow_replay" is not a boolean, or when a revision counter is neither
//     a number nor a boolean;
//   - std::runtime_error "INVALID_SAVED_MANUAL_QUEUE": a queue that is not an
//     array or holds too many items, a revision counter that is not finite
//     or outside 0..2147483647 once its fraction is dropped, a note that is
//     not {"revision": integer, "text": 1..12000 bytes}, a capture that is
//     not an integer, or queued revisions that are not strictly increasing,
//     above 0 and at most their counter;
//   - std::runtime_error "SAVED_SESSION_REQUIRED": the session id is not 1 to
//     128 printable bytes.
// Absent "allow_replay", counters and queues read as false, 0 and [].
SavedState adoptSavedDocument(const nlohmann::json& document, const std::string& account,
                              const std::string& symbol, bool simulation, bool replay);

// The document to save: members "settings" (settingsDocument),
// "secret", "allow_replay", "note_revision", "screenshot_revision",
// "pending_notes", "pending_screenshots". Throws what settingsDocument
// throws. The result holds a copy of the secret: pass it to zeroSecretIn
// before it is destroyed.
nlohmann::json savedDocument(const SavedState& state);

// Overwrites the bytes of the document's "secret" string in place, leaving
// it empty. Does nothing when the document has no string "secret".
void zeroSecretIn(nlohmann::json& document);

}  // namespace qbsync

#endif
