// Which of the six service requests a call is. The transport refuses every
// other combination before anything touches the network.
#ifndef QB_SERVICE_REQUEST_SHAPE_H
#define QB_SERVICE_REQUEST_SHAPE_H

#include <string_view>

namespace qbsync {

enum class RequestKind { AccountDirectory, Readiness, Batches, ImportStatus, NativeBatch, Note };

// Classifies the request. `accountId` is the configured destination account.
// Throws std::runtime_error "INVALID_REQUEST_PATH" for a path the service
// does not have, "INVALID_REQUEST_METHOD" for the wrong method, and
// "INVALID_REQUEST_SHAPE" when body, key or account do not fit the request.
// Pure; any thread.
RequestKind classifyRequest(std::string_view method, std::string_view path, std::string_view body,
                            std::string_view key, std::string_view accountId);

// The GET requests carry no Content-Type.
bool sendsContentType(RequestKind kind);

// Throws std::runtime_error "INVALID_CREDENTIALS" unless the client instance
// id is an identifier, the email is 1 to 254 printable bytes without ":",
// space, tab, CR or LF, and the secret is 1 to 512 printable bytes
// (printable: 0x20 and above except 0x7F). Pure; any thread.
void checkCredentials(std::string_view clientInstanceId, std::string_view email, std::string_view secret);

}  // namespace qbsync

#endif
