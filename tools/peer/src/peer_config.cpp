#include "peer_config.h"

#include "wire_checks.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qbpeer {

const PeerAccount* PeerUser::find(const std::string& account_id) const {
  for (const auto& a : accounts)
    if (a.account_id == account_id) return &a;
  return nullptr;
}

const PeerUser* PeerConfig::findUser(const std::string& email) const {
  for (const auto& u : users)
    if (u.email == email) return &u;
  return nullptr;
}

namespace {

nlohmann::json readJsonFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path.string() + ": cannot be read");
  std::stringstream ss;
  ss << in.rdbuf();
  try {
    return nlohmann::json::parse(ss.str());
  } catch (const std::exception& e) {
    throw std::runtime_error(path.string() + ": " + e.what());
  }
}

std::string requireText(const nlohmann::json& obj, const char* key, const std::string& where) {
  if (!obj.is_object() || !obj.contains(key) || !obj[key].is_string())
    throw std::runtime_error(where + ": \"" + key + "\" must be a string");
  return obj[key].get<std::string>();
}

bool optionalFlag(const nlohmann::json& obj, const char* key, bool fallback, const std::string& where) {
  if (!obj.contains(key)) return fallback;
  if (!obj[key].is_boolean()) throw std::runtime_error(where + ": \"" + key + "\" must be true or false");
  return obj[key].get<bool>();
}

}  // namespace

PeerConfig loadPeerConfig(const std::string& state_dir) {
  namespace fs = std::filesystem;
  PeerConfig config;
  const fs::path accounts = fs::path(state_dir) / "accounts.json";
  if (!fs::exists(accounts)) {
    PeerUser user{kDefaultEmail, kDefaultSecret, {{kDefaultAccountId, kDefaultAccountName, true}}};
    config.users.push_back(user);
  } else {
    const auto doc = readJsonFile(accounts);
    const std::string where = accounts.string();
    if (!doc.is_object() || !doc.contains("users") || !doc["users"].is_array())
      throw std::runtime_error(where + ": \"users\" must be an array");
    for (const auto& u : doc["users"]) {
      PeerUser user;
      user.email = requireText(u, "email", where);
      user.secret = requireText(u, "secret", where);
      const bool ready = optionalFlag(u, "connector_ready", true, where);
      if (u.contains("accounts")) {
        if (!u["accounts"].is_array()) throw std::runtime_error(where + ": \"accounts\" must be an array");
        for (const auto& a : u["accounts"]) {
          PeerAccount account{requireText(a, "account_id", where), requireText(a, "name", where),
                              optionalFlag(a, "connector_ready", ready, where)};
          if (!isIdentifier(account.account_id))
            throw std::runtime_error(where + ": account_id " + account.account_id + " is not an identifier");
          user.accounts.push_back(account);
        }
      }
      config.users.push_back(user);
    }
  }
  const fs::path cfg = fs::path(state_dir) / "config.json";
  if (fs::exists(cfg)) {
    const auto doc = readJsonFile(cfg);
    if (!doc.is_object()) throw std::runtime_error(cfg.string() + ": must be an object");
    if (doc.contains("polls_until_applied")) {
      const auto& v = doc["polls_until_applied"];
      if (!v.is_number_integer() || v.get<int>() < 0)
        throw std::runtime_error(cfg.string() + ": \"polls_until_applied\" must be an integer of at least 0");
      config.polls_until_applied = v.get<int>();
    }
  }
  return config;
}

}  // namespace qbpeer
