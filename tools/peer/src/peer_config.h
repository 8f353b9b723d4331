// The peer's fixed inputs: users with their accounts (accounts.json) and the
// pacing of journal imports (config.json). Loaded once at start.
#pragma once

#include <string>
#include <vector>

namespace qbpeer {

struct PeerAccount {
  std::string account_id;
  std::string name;
  bool connector_ready = true;
};

struct PeerUser {
  std::string email;
  std::string secret;
  std::vector<PeerAccount> accounts;
  const PeerAccount* find(const std::string& account_id) const;
};

struct PeerConfig {
  std::vector<PeerUser> users;
  int polls_until_applied = 1;
  const PeerUser* findUser(const std::string& email) const;
};

// Reads DIR/accounts.json (or the built-in default user when absent) and
// DIR/config.json (optional). Throws std::runtime_error naming the file and
// the fault when either exists but is malformed.
PeerConfig loadPeerConfig(const std::string& state_dir);

// The built-in user when accounts.json is absent.
inline constexpr const char* kDefaultEmail = "trader@example.com";
inline constexpr const char* kDefaultSecret = "peer-secret";
inline constexpr const char* kDefaultAccountId = "5b0c6a5e-8f4e-4c61-9d37-3f1a2b4c5d6e";
inline constexpr const char* kDefaultAccountName = "Peer Demo Account";

}  // namespace qbpeer
