#include "wire_checks.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdio>
#include <regex>
#include <vector>

namespace qbpeer {

bool isIdentifier(const std::string& text) {
  static const std::regex pattern("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
  return std::regex_match(text, pattern) && text != "00000000-0000-0000-0000-000000000000";
}

namespace {
std::string randomHex(size_t bytes) {
  std::vector<unsigned char> raw(bytes);
  if (RAND_bytes(raw.data(), static_cast<int>(raw.size())) != 1) throw std::runtime_error("RAND_bytes failed");
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : raw) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}
}  // namespace

std::string newIdentifier() {
  std::string h = randomHex(16);
  h[12] = '4';  // version 4, variant bits: a plausible GUID
  h[16] = "89ab"[h[16] % 4];
  return h.substr(0, 8) + "-" + h.substr(8, 4) + "-" + h.substr(12, 4) + "-" + h.substr(16, 4) + "-" + h.substr(20);
}

std::string newRequestId() { return randomHex(16); }

std::string sha256Hex(const std::string& bytes) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), md, &len, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 failed");
  char hex[3];
  std::string out;
  for (unsigned int i = 0; i < len; ++i) {
    std::snprintf(hex, sizeof hex, "%02x", md[i]);
    out += hex;
  }
  return out;
}

bool isNormalDecimal(const std::string& text) {
  static const std::regex pattern("-?(0|[1-9][0-9]{0,21})(\\.[0-9]{1,8})?");
  if (!std::regex_match(text, pattern)) return false;
  if (text.find('.') != std::string::npos && text.back() == '0') return false;
  return text != "-0";
}

namespace {
bool realDate(int y, int m, int d) {
  if (y < 1601 || m < 1 || m > 12 || d < 1) return false;
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int limit = days[m - 1];
  if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) limit = 29;
  return d <= limit;
}
}  // namespace

bool isDay(const std::string& text) {
  static const std::regex pattern("[0-9]{4}-[0-9]{2}-[0-9]{2}");
  if (!std::regex_match(text, pattern)) return false;
  return realDate(std::stoi(text.substr(0, 4)), std::stoi(text.substr(5, 2)), std::stoi(text.substr(8, 2)));
}

bool isUtcMicros(const std::string& text) {
  static const std::regex pattern("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{6}Z");
  if (!std::regex_match(text, pattern) || !isDay(text.substr(0, 10))) return false;
  return std::stoi(text.substr(11, 2)) < 24 && std::stoi(text.substr(14, 2)) < 60 && std::stoi(text.substr(17, 2)) < 60;
}

bool parseSequence(const std::string& text, unsigned long long& out) {
  if (text.empty() || text.size() > 19 || text[0] == '0') return false;
  out = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + static_cast<unsigned>(c - '0');
  }
  return true;
}

nlohmann::json parseCanonical(const std::string& body) {
  using nlohmann::json;
  std::vector<std::vector<std::string>> keys;  // keys of every open object
  bool duplicate = false;
  bool tooDeep = false;
  json::parser_callback_t cb = [&](int depth, json::parse_event_t event, json& parsed) {
    if (depth > 32) tooDeep = true;
    switch (event) {
      case json::parse_event_t::object_start: keys.emplace_back(); break;
      case json::parse_event_t::object_end: if (!keys.empty()) keys.pop_back(); break;
      case json::parse_event_t::key: {
        const auto& k = parsed.get_ref<const std::string&>();
        for (const auto& seen : keys.back()) if (seen == k) duplicate = true;
        keys.back().push_back(k);
        break;
      }
      default: break;
    }
    return true;
  };
  json value;
  try {
    value = json::parse(body, cb, /*allow_exceptions=*/true, /*ignore_comments=*/false);
  } catch (const json::exception&) {
    if (tooDeep) throw Refusal(400, "JSON_TOO_COMPLEX", "body");
    throw Refusal(400, "INVALID_JSON", "body");
  }
  if (duplicate) throw Refusal(400, "DUPLICATE_FIELD", "body");
  if (tooDeep) throw Refusal(400, "JSON_TOO_COMPLEX", "body");
  std::string again;
  try {
    again = value.dump();
  } catch (const json::exception&) {
    throw Refusal(400, "INVALID_JSON", "body");
  }
  if (again != body) throw Refusal(400, "INVALID_REQUEST", "body");
  return value;
}

bool base64Decode(const std::string& in, std::string& out) {
  out.clear();
  if (in.empty() || in.size() % 4 != 0) return false;
  auto val = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  for (size_t i = 0; i < in.size(); i += 4) {
    int v[4];
    int pad = 0;
    for (int j = 0; j < 4; ++j) {
      char c = in[i + j];
      if (c == '=') {
        // Padding only in the last group, only at its end.
        if (i + 4 != in.size() || j < 2) return false;
        v[j] = 0;
        ++pad;
      } else {
        if (pad) return false;
        v[j] = val(c);
        if (v[j] < 0) return false;
      }
    }
    unsigned triple = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
    out += static_cast<char>((triple >> 16) & 0xFF);
    if (pad < 2) out += static_cast<char>((triple >> 8) & 0xFF);
    if (pad < 1) out += static_cast<char>(triple & 0xFF);
  }
  return true;
}

}  // namespace qbpeer
