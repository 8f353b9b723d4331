// The connection settings of one chart source: where and how the sync engine
// delivers it, with their validation and the JSON forms and digests other
// components store or compare. The account secret and the replay opt-in are
// held beside the record, never inside it.
//
// A plain value: copied, assigned and moved freely, no locks. The controller
// reads and writes its instance under its own mutex; workers get copies.
#ifndef QB_SETTINGS_CONNECTION_SETTINGS_H
#define QB_SETTINGS_CONNECTION_SETTINGS_H

#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "settings/api_origin.h"
#include "settings/setup_values.h"

namespace qbsync {

struct ConnectionSettings {
  std::string origin{kDefaultApiOrigin};
  std::string email;
  std::string account_id;
  std::string account_name;
  std::string source_account;
  std::string source_symbol;
  std::string session_id;
  std::string api_symbol;
  std::string asset_type = "future";
  std::string currency = "USD";
  std::string commission_per_unit = "0";
  std::string fees_per_unit = "0";
  bool simulation = false;
  bool replay = false;
  bool sync_notes = false;
  bool allow_local_fill_ids = false;
  bool allow_loopback_http = false;
  bool capture_screenshots = false;
  bool enabled = false;
  bool native_instrument_protocol = false;
  std::uint64_t maximum_events = 100000;
  std::uint64_t maximum_state_mb = 512;
  std::uint64_t batch_size = 100;

  // Runs the rules in their fixed order; the first failing rule throws
  // std::runtime_error with its code: the origin's code ("HTTPS_REQUIRED",
  // "INVALID_API_ORIGIN", "INVALID_API_PORT"), "EMAIL_REQUIRED",
  // "SELECT_QUORBELLE_ACCOUNT", "SOURCE_BINDING_REQUIRED",
  // "REPLAY_REQUIRES_SIMULATION", "LEGACY_INSTRUMENT_RECONCILIATION_REQUIRED",
  // "UNSUPPORTED_ASSET_OR_CURRENCY", "EXACT_INSTRUMENT_REQUIRED",
  // "FUTURE_REQUIRES_EXACT_CONTRACT_AND_TWO_OR_FOUR_DIGIT_YEAR",
  // "NATIVE_COST_CURRENCY_REQUIRED", "INVALID_COST_SETTING",
  // "INVALID_RETENTION_SETTING".
  void validate() const;

  // Checks that the saved instrument still agrees with the chart's symbol.
  // detectedType: "future", "stock" or "" when the host gave none. Does
  // nothing when native_instrument_protocol is on. Throws std::runtime_error
  // "LEGACY_INSTRUMENT_RECONCILIATION_REQUIRED",
  // "SOURCE_INSTRUMENT_TYPE_MISMATCH",
  // "FUTURE_REQUIRES_EXACT_CONTRACT_AND_TWO_OR_FOUR_DIGIT_YEAR" or
  // "SOURCE_FUTURE_CONTRACT_MISMATCH".
  void checkSource(std::string_view detectedType) const;

  // The fields that tie queued journal items to one destination, with the
  // origin normalised; the instrument members are replaced by
  // "native_instrument_protocol": 1 when the native flag is on.
  // Throws the origin's code.
  nlohmann::json bindingDocument() const;

  // The binding document plus account name, switches and limits: the form
  // stored in the settings file. Throws the origin's code.
  nlohmann::json settingsDocument() const;
};

// Builds a record from a settings document, defaults for absent members. Not
// validated. Throws nlohmann::json::type_error when the document is not an
// object or a member has the wrong type (limits must be non-negative
// integers), std::runtime_error "UNKNOWN_NATIVE_INSTRUMENT_PROTOCOL" when
// "native_instrument_protocol" is present but not the integer 1.
ConnectionSettings fromSettingsDocument(const nlohmann::json& document);

// The candidate record when the setup form is applied: the form's email
// (ASCII letters lower-cased), account, session id (when not empty) and
// switches over the current record. The form's secret and replay opt-in
// travel beside the result.
ConnectionSettings settingsFromForm(const ConnectionSettings& current,
                                    const qbnative::SetupValues& form);

// Lower-case hex SHA-256 over everything but `enabled`, the secret's digest
// and the replay opt-in; equal exactly when those agree. Throws the origin's
// code, and nlohmann::json::type_error for text that is not valid UTF-8.
std::string connectionFingerprint(const ConnectionSettings& settings, std::string_view secret,
                                  bool allowReplay);

// 16 lower-case hex digits naming the scope's outbox directory, from the
// stored (not normalised) origin, identity, destination and source binding.
// Throws nlohmann::json::type_error for text that is not valid UTF-8.
std::string outboxScopeKey(const ConnectionSettings& settings);

// The text outboxScopeKey digests: equal texts give equal keys, so a caller
// that needs the key often can keep it for the text it was made from.
std::string outboxScopeText(const ConnectionSettings& settings);

// The key of a text outboxScopeText returned.
std::string outboxScopeKeyOf(const std::string& scopeText);

}  // namespace qbsync

#endif
