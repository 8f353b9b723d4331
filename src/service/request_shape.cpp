#include "service/request_shape.h"

#include <stdexcept>

#include "service/protocol.h"
#include "support/identifier.h"
#include "support/printable_text.h"

namespace qbsync {
namespace {

constexpr std::size_t kNoteBodyLimit = 65536;
constexpr std::size_t kBatchBodyLimit = 1048576;

bool sized(std::string_view body, std::size_t limit) { return !body.empty() && body.size() <= limit; }

}  // namespace

RequestKind classifyRequest(std::string_view method, std::string_view path, std::string_view body,
                            std::string_view key, std::string_view accountId) {
  RequestKind kind;
  const char* expected = "POST";
  if (path.starts_with(kImportStatusPrefix)) {
    kind = RequestKind::ImportStatus;
    expected = "GET";
  } else if (path == kAccountDirectoryPath) {
    kind = RequestKind::AccountDirectory;
  } else if (path == kNotesPath) {
    kind = RequestKind::Note;
  } else if (path == kReadinessPath) {
    kind = method == "GET" ? RequestKind::Readiness : RequestKind::NativeBatch;
    if (method == "GET") expected = "GET";
  } else if (path == kBatchesPath) {
    kind = RequestKind::Batches;
  } else {
    throw std::runtime_error("INVALID_REQUEST_PATH");
  }
  if (method != expected) throw std::runtime_error("INVALID_REQUEST_METHOD");

  bool fits = false;
  switch (kind) {
    case RequestKind::Readiness:
      fits = body.empty() && key.empty() && (accountId.empty() || isIdentifier(accountId));
      break;
    case RequestKind::ImportStatus:
      fits = body.empty() && key.empty() && isIdentifier(path.substr(kImportStatusPrefix.size()));
      break;
    case RequestKind::AccountDirectory:
      fits = body == "{}" && key.empty();
      break;
    case RequestKind::Note:
      fits = sized(body, kNoteBodyLimit) && isIdentifier(key);
      break;
    case RequestKind::Batches:
    case RequestKind::NativeBatch:
      fits = sized(body, kBatchBodyLimit) && isIdentifier(key);
      break;
  }
  if (!fits) throw std::runtime_error("INVALID_REQUEST_SHAPE");
  return kind;
}

bool sendsContentType(RequestKind kind) {
  return kind != RequestKind::ImportStatus && kind != RequestKind::Readiness;
}

void checkCredentials(std::string_view clientInstanceId, std::string_view email, std::string_view secret) {
  const bool emailOk = isPrintableText(email, 1, 254) &&
                       email.find_first_of(": \t\r\n") == std::string_view::npos;
  const bool secretOk = isPrintableText(secret, 1, 512);
  if (!isIdentifier(clientInstanceId) || !emailOk || !secretOk) throw std::runtime_error("INVALID_CREDENTIALS");
}

}  // namespace qbsync
