#include "service/http_callback.h"

#include <stdexcept>

namespace qbsync {
namespace {

std::atomic<HttpStatusTap> statusTap{nullptr};

}  // namespace

void setHttpStatusTapForTesting(HttpStatusTap tap) { statusTap.store(tap); }

void CALLBACK httpStatusCallback(HINTERNET, DWORD_PTR contextValue, DWORD status, LPVOID info, DWORD length) {
  auto* context = reinterpret_cast<HttpRequestContext*>(contextValue);
  if (context == nullptr) return;
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      SetEvent(context->closing);
      if (context->released.exchange(true) && context->dispose) context->dispose(context->owner);
      return;
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE: {
      const HttpStatusTap tap = statusTap.load();
      const DWORD injected = tap ? tap(status) : 0;
      if (injected != 0) {
        context->last_error.exchange(injected);
      } else {
        context->last_length.exchange(length);
        context->last_status.exchange(status);
      }
      SetEvent(context->completion);
      return;
    }
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
      const auto* result = static_cast<const WINHTTP_ASYNC_RESULT*>(info);
      context->last_error.exchange(result ? result->dwError : kNoAsyncResult);
      SetEvent(context->completion);
      return;
    }
    default:
      return;
  }
}

bool stepSucceeded(const HttpRequestContext& context, DWORD expected) {
  const DWORD error = context.last_error.load();
  if (error == kSecureFailure) throw std::runtime_error("TLS_VALIDATION_FAILED");
  return error == 0 && context.last_status.load() == expected;
}

}  // namespace qbsync
