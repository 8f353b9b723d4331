#include "service/account_directory.h"

#include <stdexcept>
#include <string>

#include "service/json_object.h"
#include "service/protocol.h"
#include "support/identifier.h"
#include "support/printable_text.h"

namespace qbsync {
namespace {

[[noreturn]] void refuse() { throw std::runtime_error("INVALID_ACCOUNT_DIRECTORY"); }

bool isDisplayName(const std::string& name) { return isPrintableText(name, 1, 512); }

}  // namespace

std::vector<qbnative::SetupAccount> readAccountDirectory(std::string_view body) {
  nlohmann::json root;
  try {
    root = parseJsonObject(body, kServiceBodyLimit);
  } catch (const std::exception&) {
    refuse();
  }
  auto accounts = root.find("accounts");
  if (accounts == root.end() || !accounts->is_array()) refuse();
  std::vector<qbnative::SetupAccount> result;
  for (const auto& element : *accounts) {
    if (!element.is_object()) refuse();
    auto id = element.find("account_id");
    auto name = element.find("name");
    if (id == element.end() || name == element.end() || !id->is_string() || !name->is_string()) refuse();
    const std::string& idText = id->get_ref<const std::string&>();
    const std::string& nameText = name->get_ref<const std::string&>();
    if (!isIdentifier(idText) || !isDisplayName(nameText)) refuse();
    result.push_back({idText, nameText});
  }
  return result;
}

}  // namespace qbsync
