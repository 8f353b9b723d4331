#include "settings/connection_settings.h"

#include <regex>
#include <stdexcept>

#include "instruments/symbol_classification.h"
#include "support/identifier.h"
#include "support/printable_text.h"
#include "support/sha256.h"

namespace qbsync {
namespace {

using nlohmann::json;

[[noreturn]] void fail(const char* code) { throw std::runtime_error(code); }

bool isCostText(const std::string& text) {
  static const std::regex cost("(?:0|[1-9][0-9]{0,13})(?:\\.[0-9]{1,8})?");
  return std::regex_match(text, cost);
}

bool isExactInstrumentText(const std::string& text) {
  static const std::regex instrument("[A-Za-z0-9][A-Za-z0-9 ._:/-]{0,63}");
  return isPrintableText(text, 1, 64) && std::regex_match(text, instrument);
}

std::string readString(const json& document, const char* key, std::string_view fallback) {
  return document.value(key, std::string(fallback));
}

// The library would convert a negative or fractional number (or a boolean)
// silently into a wrapped or truncated limit; refuse them as wrong types.
std::uint64_t readUnsigned(const json& document, const char* key, std::uint64_t fallback) {
  const auto it = document.find(key);
  if (it == document.end()) return fallback;
  if (it->is_number_unsigned()) return it->get<std::uint64_t>();
  if (it->is_number_integer() && it->get<std::int64_t>() >= 0) {
    return static_cast<std::uint64_t>(it->get<std::int64_t>());
  }
  throw json::type_error::create(
      302, std::string("type must be an unsigned integer, but is ") + it->type_name(), &*it);
}

}  // namespace

void ConnectionSettings::validate() const {
  normalizeApiOrigin(origin, allow_loopback_http);

  if (!isPrintableText(email, 1, 254) || email.find_first_of(": \t\r\n") != std::string::npos) {
    fail("EMAIL_REQUIRED");
  }
  if (!isIdentifier(account_id)) fail("SELECT_QUORBELLE_ACCOUNT");
  if (!isPrintableText(source_account, 1, 256) || !isPrintableText(source_symbol, 1, 256) ||
      !isPrintableText(session_id, 1, 128)) {
    fail("SOURCE_BINDING_REQUIRED");
  }
  if (replay && !simulation) fail("REPLAY_REQUIRES_SIMULATION");

  if (!native_instrument_protocol) {
    if (isUnsupportedSymbol(source_symbol)) fail("LEGACY_INSTRUMENT_RECONCILIATION_REQUIRED");
    if (asset_type != "future" && asset_type != "stock") fail("UNSUPPORTED_ASSET_OR_CURRENCY");
    if (currency != "USD") fail("UNSUPPORTED_ASSET_OR_CURRENCY");
    if (!isExactInstrumentText(api_symbol)) fail("EXACT_INSTRUMENT_REQUIRED");
    if (asset_type == "future" && normalizeFutureContract(api_symbol).empty()) {
      fail("FUTURE_REQUIRES_EXACT_CONTRACT_AND_TWO_OR_FOUR_DIGIT_YEAR");
    }
  } else if (commission_per_unit != "0" || fees_per_unit != "0") {
    // Exact text: "0.00" is zero too, but it is still a cost the trader set.
    fail("NATIVE_COST_CURRENCY_REQUIRED");
  }

  if (!isCostText(commission_per_unit) || !isCostText(fees_per_unit)) {
    fail("INVALID_COST_SETTING");
  }
  if (maximum_events < 1 || maximum_events > 1000000 || maximum_state_mb < 8 ||
      maximum_state_mb > 4096 || batch_size < 1 || batch_size > 500) {
    fail("INVALID_RETENTION_SETTING");
  }
}

void ConnectionSettings::checkSource(std::string_view detectedType) const {
  if (native_instrument_protocol) return;
  if (isUnsupportedSymbol(source_symbol)) fail("LEGACY_INSTRUMENT_RECONCILIATION_REQUIRED");
  if (!detectedType.empty() &&
      ((detectedType != "future" && detectedType != "stock") || detectedType != asset_type)) {
    fail("SOURCE_INSTRUMENT_TYPE_MISMATCH");
  }
  if (asset_type != "future") return;

  const InstrumentClass derived = classifySourceInstrument(source_symbol, detectedType);
  const std::string contract = normalizeFutureContract(api_symbol);
  if (contract.empty()) fail("FUTURE_REQUIRES_EXACT_CONTRACT_AND_TWO_OR_FOUR_DIGIT_YEAR");
  if (!derived.api_symbol.empty() && derived.api_symbol != contract) {
    fail("SOURCE_FUTURE_CONTRACT_MISMATCH");
  }

  // "ESZ5" names no decade, so it is compared in its own short form: the
  // contract's root, month code and last year digit.
  const std::string shortSource = stripFutureSuffix(source_symbol);
  if (isOneDigitYearContract(shortSource)) {
    const std::size_t space = contract.find(' ');
    const int month = std::stoi(contract.substr(space + 1, 2));
    const std::string rebuilt =
        contract.substr(0, space) + monthCodeLetter(month) + contract.back();
    if (rebuilt != shortSource) fail("SOURCE_FUTURE_CONTRACT_MISMATCH");
  }
}

json ConnectionSettings::bindingDocument() const {
  json document = json::object();
  document["origin"] = normalizeApiOrigin(origin, allow_loopback_http);
  document["email"] = email;
  document["account_id"] = account_id;
  document["source_account"] = source_account;
  document["source_symbol"] = source_symbol;
  document["session_id"] = session_id;
  document["simulation"] = simulation;
  document["replay"] = replay;
  document["commission_per_unit"] = commission_per_unit;
  document["fees_per_unit"] = fees_per_unit;
  if (native_instrument_protocol) {
    document["native_instrument_protocol"] = 1;
  } else {
    document["api_symbol"] = api_symbol;
    document["asset_type"] = asset_type;
    document["currency"] = currency;
  }
  return document;
}

json ConnectionSettings::settingsDocument() const {
  json document = bindingDocument();
  document["account_name"] = account_name;
  document["sync_notes"] = sync_notes;
  document["allow_local_fill_ids"] = allow_local_fill_ids;
  document["allow_loopback_http"] = allow_loopback_http;
  document["capture_screenshots"] = capture_screenshots;
  document["enabled"] = enabled;
  document["maximum_events"] = maximum_events;
  document["maximum_state_mb"] = maximum_state_mb;
  document["batch_size"] = batch_size;
  return document;
}

ConnectionSettings fromSettingsDocument(const json& document) {
  if (!document.is_object()) {
    throw json::type_error::create(
        306, std::string("cannot use value() with ") + document.type_name(), &document);
  }
  ConnectionSettings s;
  s.origin = readString(document, "origin", kDefaultApiOrigin);
  s.email = readString(document, "email", "");
  s.account_id = readString(document, "account_id", "");
  s.account_name = readString(document, "account_name", "");
  s.source_account = readString(document, "source_account", "");
  s.source_symbol = readString(document, "source_symbol", "");
  s.session_id = readString(document, "session_id", "");
  s.api_symbol = readString(document, "api_symbol", "");

  if (const auto it = document.find("native_instrument_protocol"); it != document.end()) {
    const bool isOne = (it->is_number_unsigned() && it->get<std::uint64_t>() == 1) ||
                       (it->is_number_integer() && it->get<std::int64_t>() == 1);
    if (!isOne) fail("UNKNOWN_NATIVE_INSTRUMENT_PROTOCOL");
    s.native_instrument_protocol = true;
  }

  s.asset_type = readString(document, "asset_type", "future");
  s.currency = readString(document, "currency", "USD");
  s.commission_per_unit = readString(document, "commission_per_unit", "0");
  s.fees_per_unit = readString(document, "fees_per_unit", "0");

  s.simulation = document.value("simulation", false);
  s.replay = document.value("replay", false);
  s.sync_notes = document.value("sync_notes", false);
  s.allow_local_fill_ids = document.value("allow_local_fill_ids", false);
  s.allow_loopback_http = document.value("allow_loopback_http", false);
  s.capture_screenshots = document.value("capture_screenshots", false);
  s.enabled = document.value("enabled", false);

  s.maximum_events = readUnsigned(document, "maximum_events", 100000);
  s.maximum_state_mb = readUnsigned(document, "maximum_state_mb", 512);
  s.batch_size = readUnsigned(document, "batch_size", 100);
  return s;
}

ConnectionSettings settingsFromForm(const ConnectionSettings& current,
                                    const qbnative::SetupValues& form) {
  ConnectionSettings s = current;
  s.email = form.email;
  for (char& ch : s.email) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  s.account_id = form.account_id;
  s.account_name = form.account_name;
  if (!form.session_id.empty()) s.session_id = form.session_id;
  s.enabled = form.enabled;
  s.sync_notes = form.sync_notes;
  s.capture_screenshots = form.capture_screenshots;
  s.allow_local_fill_ids = form.allow_local_fill_ids;
  return s;
}

std::string connectionFingerprint(const ConnectionSettings& settings, std::string_view secret,
                                  bool allowReplay) {
  json document = settings.settingsDocument();
  document.erase("enabled");
  const json parts = json::array({document, sha256Hex(secret), allowReplay});
  return sha256Hex(parts.dump());
}

std::string outboxScopeKey(const ConnectionSettings& settings) {
  return outboxScopeKeyOf(outboxScopeText(settings));
}

std::string outboxScopeKeyOf(const std::string& scopeText) { return sha256Hex(scopeText).substr(0, 16); }

std::string outboxScopeText(const ConnectionSettings& settings) {
  json scope = json::object();
  scope["origin"] = settings.origin;
  scope["email"] = settings.email;
  scope["account_id"] = settings.account_id;
  scope["source_account"] = settings.source_account;
  scope["source_symbol"] = settings.source_symbol;
  scope["session_id"] = settings.session_id;
  scope["simulation"] = settings.simulation;
  scope["replay"] = settings.replay;
  return scope.dump();
}

}  // namespace qbsync
