#include "service/protocol.h"

#include <stdexcept>

#include <nlohmann/json.hpp>

#include "service/api_errors.h"
#include "service/strict_json.h"
#include "settings/api_origin.h"
#include "support/identifier.h"

namespace qbsync {
namespace {

constexpr int kReadinessMaxDepth = 8;

[[noreturn]] void invalidReadiness() { throw std::runtime_error("INVALID_READINESS_RESPONSE"); }

bool isStringEqual(const nlohmann::json& value, std::string_view expected) {
  return value.is_string() && value.get_ref<const std::string&>() == expected;
}

}  // namespace

bool isRetryableStatus(std::int32_t status) {
  return status == 0 || status == 408 || status == 429 || status >= 500;
}

void checkReadiness(const HttpResponse& response, std::string_view accountId, bool eligible) {
  if (response.status != 200) {
    const std::string reason =
        response.status == 0 ? std::string("network unavailable") : "HTTP " + std::to_string(response.status);
    throw NativeReadinessError("Connection check failed (" + reason +
                               "). The Sierra sync endpoint has not confirmed this account. Saved records "
                               "are retained.");
  }
  if (response.body.size() > kServiceBodyLimit) invalidReadiness();
  nlohmann::json root;
  if (!parseStrictJson(response.body, kReadinessMaxDepth, root)) invalidReadiness();
  if (eligible ? !accountId.empty() : !isIdentifier(accountId)) invalidReadiness();
  if (!root.is_object() || root.size() != 4) invalidReadiness();

  const auto protocol = root.find("protocol");
  const auto status = root.find("status");
  const auto connector = root.find("connector");
  const auto account = root.find("account_id");
  if (protocol == root.end() || status == root.end() || connector == root.end() || account == root.end()) {
    invalidReadiness();
  }
  // A float 1.0 is not the integer 1.
  const bool protocolOk = (protocol->is_number_unsigned() && protocol->get<std::uint64_t>() == 1) ||
                          (protocol->is_number_integer() && protocol->get<std::int64_t>() == 1);
  if (!protocolOk) invalidReadiness();
  if (!isStringEqual(*status, eligible ? "eligible" : "ready")) invalidReadiness();
  if (!isStringEqual(*connector, "sierrachart")) invalidReadiness();
  if (eligible ? !account->is_null() : !isStringEqual(*account, accountId)) invalidReadiness();
}

std::string resolvePath(std::string_view origin, std::string_view path) {
  if (origin == kDefaultApiOrigin && path == kReadinessPath) return std::string(kDefaultOriginReadinessPath);
  return std::string(path);
}

}  // namespace qbsync
