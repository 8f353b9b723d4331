// The request header block, byte for byte in the order the service documents
// (the peer's HTTP library does not keep header order, so the order is pinned
// here and tested directly).
#ifndef QB_SERVICE_HEADER_BLOCK_H
#define QB_SERVICE_HEADER_BLOCK_H

#include <string>
#include <string_view>

namespace qbsync {

// Authorization, Accept, X-Quorbelle-Connector, X-Quorbelle-Client-Instance,
// then X-Quorbelle-Account when `accountId` is not empty, Content-Type when
// `contentType`, Idempotency-Key when `key` is not empty; each line ends in
// CR LF. `authorization` is the whole value ("Basic ..."). Throws
// std::runtime_error "INVALID_ACCOUNT_ID" when a non-empty account id is not
// an identifier. Pure; any thread.
std::string buildHeaderBlock(std::string_view authorization, std::string_view clientInstanceId,
                             std::string_view accountId, bool contentType, std::string_view key);

}  // namespace qbsync

#endif
