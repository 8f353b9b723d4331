#include "service/header_block.h"

#include <stdexcept>

#include "support/identifier.h"

namespace qbsync {

std::string buildHeaderBlock(std::string_view authorization, std::string_view clientInstanceId,
                             std::string_view accountId, bool contentType, std::string_view key) {
  std::string block;
  block.append("Authorization: ").append(authorization).append("\r\n");
  block.append("Accept: application/json\r\n");
  block.append("X-Quorbelle-Connector: sierrachart\r\n");
  block.append("X-Quorbelle-Client-Instance: ").append(clientInstanceId).append("\r\n");
  if (!accountId.empty()) {
    if (!isIdentifier(accountId)) throw std::runtime_error("INVALID_ACCOUNT_ID");
    block.append("X-Quorbelle-Account: ").append(accountId).append("\r\n");
  }
  if (contentType) block.append("Content-Type: application/json\r\n");
  if (!key.empty()) block.append("Idempotency-Key: ").append(key).append("\r\n");
  return block;
}

}  // namespace qbsync
