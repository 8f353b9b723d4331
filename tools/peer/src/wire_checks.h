// Strict checks of what the client puts on the wire: identifiers, decimal and
// time texts, canonical JSON, Basic credentials. Pure functions, any thread.
#pragma once

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <string>

namespace qbpeer {

// A refusal the service would answer: HTTP status, error code and field.
struct Refusal : std::runtime_error {
  Refusal(int status, std::string code, std::string field = "")
      : std::runtime_error(code), status(status), code(std::move(code)), field(std::move(field)) {}
  int status;
  std::string code;
  std::string field;
};

// 36 lowercase characters in the 8-4-4-4-12 form, not the nil identifier.
bool isIdentifier(const std::string& text);
// A fresh random identifier / 32-hex request id.
std::string newIdentifier();
std::string newRequestId();
std::string sha256Hex(const std::string& bytes);

// "-?(0|[1-9][0-9]{0,21})(\.[0-9]{1,8})?" without a trailing fraction zero
// and not "-0" (the normalized form the client must send).
bool isNormalDecimal(const std::string& text);
// "YYYY-MM-DDTHH:MM:SS.ffffffZ" naming a real instant.
bool isUtcMicros(const std::string& text);
// "YYYY-MM-DD" naming a real day.
bool isDay(const std::string& text);
// Decimal text without leading zeros, 1 or more; false on overflow.
bool parseSequence(const std::string& text, unsigned long long& out);

// Parses a request body: refuses invalid JSON, repeated keys, nesting above
// 32 and any text that is not the compact sorted serialisation of its value.
// Throws Refusal (400, field "body").
nlohmann::json parseCanonical(const std::string& body);

// Decodes standard Base64 with padding; false on any malformed input.
bool base64Decode(const std::string& in, std::string& out);

}  // namespace qbpeer
