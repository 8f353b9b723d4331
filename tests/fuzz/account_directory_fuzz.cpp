// The account directory as account discovery reads it. An answer is refused
// with its one code or taken whole: every account offered has an identifier
// and a printable name, in the order and with the texts the service sent,
// and the list written back as a directory reads as the same list.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz_source.h"
#include "service/account_directory.h"
#include "service/json_object.h"
#include "service/protocol.h"
#include "support/identifier.h"
#include "support/printable_text.h"

namespace {

constexpr std::string_view kRefused = "INVALID_ACCOUNT_DIRECTORY";

nlohmann::json directoryOf(const std::vector<qbnative::SetupAccount>& accounts) {
  nlohmann::json list = nlohmann::json::array();
  for (const qbnative::SetupAccount& account : accounts) {
    list.push_back({{"account_id", account.account_id}, {"name", account.name}});
  }
  return {{"accounts", list}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  std::vector<qbnative::SetupAccount> accounts;
  if (!qbfuzz::attemptRefusing({kRefused}, [&] { accounts = qbsync::readAccountDirectory(body); })) return 0;

  // Taken: the strict parse must agree, and nothing may have been dropped,
  // reordered or changed on the way.
  nlohmann::json root;
  try {
    root = qbsync::parseJsonObject(body, qbsync::kServiceBodyLimit);
  } catch (const std::exception&) {
    qbfuzz::broken("a directory the strict parser refuses was taken");
  }
  const nlohmann::json& listed = root.at("accounts");
  if (listed.size() != accounts.size()) qbfuzz::broken("accounts dropped or added");
  for (std::size_t i = 0; i < accounts.size(); ++i) {
    const qbnative::SetupAccount& account = accounts[i];
    if (!qbsync::isIdentifier(account.account_id)) qbfuzz::broken("an account without a valid id");
    if (!qbsync::isPrintableText(account.name, 1, 512)) qbfuzz::broken("an account name that is not printable");
    if (listed[i].at("account_id") != account.account_id || listed[i].at("name") != account.name) {
      qbfuzz::broken("an account differs from what the service listed");
    }
  }

  std::vector<qbnative::SetupAccount> again;
  const std::string rewritten = directoryOf(accounts).dump();
  if (rewritten.size() > qbsync::kServiceBodyLimit) return 0;  // escaping may outgrow the answer limit
  try {
    again = qbsync::readAccountDirectory(rewritten);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "reread: %s\n", e.what());
    qbfuzz::broken("a taken directory written back is refused");
  }
  if (again.size() != accounts.size()) qbfuzz::broken("a taken directory reads back with another length");
  for (std::size_t i = 0; i < accounts.size(); ++i) {
    if (again[i].account_id != accounts[i].account_id || again[i].name != accounts[i].name) {
      qbfuzz::broken("a taken directory reads back as another list");
    }
  }
  return 0;
}
