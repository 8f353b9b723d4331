#include "settings/saved_state.h"

#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>

#include "settings/secure_zero.h"
#include "support/printable_text.h"

namespace qbsync {
namespace {

using nlohmann::json;

constexpr std::int64_t kMaxRevision = std::numeric_limits<std::int32_t>::max();

[[noreturn]] void invalidQueue() { throw std::runtime_error("INVALID_SAVED_MANUAL_QUEUE"); }

const json* member(const json& document, const char* key) {
  const auto it = document.find(key);
  return it == document.end() ? nullptr : &*it;
}

// A revision counter as saved: a number or a boolean, fraction dropped.
// Empty when the value cannot be a counter (not finite, or outside
// 0..2147483647): converting such a value would wrap onto revisions already
// issued and a later note would reuse a delivered record's id.
std::optional<std::int32_t> readCounter(const json& document, const char* key) {
  const json* value = member(document, key);
  if (value == nullptr) return 0;
  if (value->is_boolean()) return value->get<bool>() ? 1 : 0;
  if (value->is_number_unsigned()) {
    const auto n = value->get<std::uint64_t>();
    if (n > static_cast<std::uint64_t>(kMaxRevision)) return std::nullopt;
    return static_cast<std::int32_t>(n);
  }
  if (value->is_number_integer()) {
    const auto n = value->get<std::int64_t>();
    if (n < 0 || n > kMaxRevision) return std::nullopt;
    return static_cast<std::int32_t>(n);
  }
  if (value->is_number_float()) {
    const double n = std::trunc(value->get<double>());
    if (!std::isfinite(n) || n < 0.0 || n > static_cast<double>(kMaxRevision)) return std::nullopt;
    return static_cast<std::int32_t>(n);
  }
  throw json::type_error::create(302, std::string("type must be number, but is ") + value->type_name(), value);
}

// A queued revision: a JSON integer (not a float), greater than the one
// before it (0 before the first) and at most the counter.
bool isNextRevision(const json& value, std::int64_t previous, std::int32_t counter) {
  if (!value.is_number_integer()) return false;
  std::int64_t n = 0;
  if (value.is_number_unsigned()) {
    const auto u = value.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(kMaxRevision)) return false;
    n = static_cast<std::int64_t>(u);
  } else {
    n = value.get<std::int64_t>();
  }
  return n > previous && n <= counter;
}

bool isSessionId(const std::string& text) { return isPrintableText(text, 1, kMaxSavedSessionIdBytes); }

}  // namespace

SavedState::~SavedState() { secureZero(secret); }

SavedState adoptSavedDocument(const json& document, const std::string& account, const std::string& symbol,
                              bool simulation, bool replay) {
  if (!document.is_object()) {
    throw json::type_error::create(306, std::string("cannot use value() with ") + document.type_name(),
                                   &document);
  }
  const json* settingsMember = member(document, "settings");
  ConnectionSettings settings = fromSettingsDocument(settingsMember ? *settingsMember : json());

  if (settings.source_account != account || settings.source_symbol != symbol ||
      settings.simulation != simulation || settings.replay != replay) {
    throw std::runtime_error("SAVED_SOURCE_MISMATCH");
  }

  // Only checked here; the secret is copied out once every rule has passed,
  // so a refused document leaves no stray copy of it behind.
  const json& secret = document.at("secret");
  if (!secret.is_string()) {
    throw json::type_error::create(302, std::string("type must be string, but is ") + secret.type_name(),
                                   &secret);
  }

  bool allowReplay = false;
  if (const json* value = member(document, "allow_replay")) {
    if (!value->is_boolean()) {
      throw json::type_error::create(302, std::string("type must be boolean, but is ") + value->type_name(),
                                     value);
    }
    allowReplay = value->get<bool>();
  }
  const std::optional<std::int32_t> noteRevision = readCounter(document, "note_revision");
  const std::optional<std::int32_t> screenshotRevision = readCounter(document, "screenshot_revision");
  const json* notesMember = member(document, "pending_notes");
  const json* capturesMember = member(document, "pending_screenshots");
  static const json kNoItems = json::array();
  const json& notes = notesMember ? *notesMember : kNoItems;
  const json& captures = capturesMember ? *capturesMember : kNoItems;

  if (!notes.is_array() || !captures.is_array() || notes.size() > kMaxSavedNotes ||
      captures.size() > kMaxSavedCaptures || !noteRevision || !screenshotRevision) {
    invalidQueue();
  }

  std::int64_t previous = 0;
  for (const json& note : notes) {
    if (!note.is_object()) invalidQueue();
    const json* revision = member(note, "revision");
    const json* text = member(note, "text");
    if (revision == nullptr || text == nullptr || !text->is_string() ||
        !isNextRevision(*revision, previous, *noteRevision)) {
      invalidQueue();
    }
    const std::size_t bytes = text->get_ref<const std::string&>().size();
    if (bytes == 0 || bytes > kMaxSavedNoteBytes) invalidQueue();
    previous = revision->get<std::int64_t>();
  }

  previous = 0;
  for (const json& capture : captures) {
    if (!isNextRevision(capture, previous, *screenshotRevision)) invalidQueue();
    previous = capture.get<std::int64_t>();
  }

  if (!isSessionId(settings.session_id)) throw std::runtime_error("SAVED_SESSION_REQUIRED");

  SavedState state;
  state.settings = std::move(settings);
  state.secret = secret.get_ref<const std::string&>();
  state.allowReplay = allowReplay;
  state.noteRevision = *noteRevision;
  state.screenshotRevision = *screenshotRevision;
  state.pendingNotes = notes;
  state.pendingScreenshots = captures;
  return state;
}

json savedDocument(const SavedState& state) {
  json document = json::object();
  document["settings"] = state.settings.settingsDocument();
  document["secret"] = state.secret;
  document["allow_replay"] = state.allowReplay;
  document["note_revision"] = state.noteRevision;
  document["screenshot_revision"] = state.screenshotRevision;
  document["pending_notes"] = state.pendingNotes;
  document["pending_screenshots"] = state.pendingScreenshots;
  return document;
}

void zeroSecretIn(json& document) {
  if (!document.is_object()) return;
  const auto it = document.find("secret");
  if (it == document.end() || !it->is_string()) return;
  secureZero(it->get_ref<std::string&>());
}

}  // namespace qbsync
