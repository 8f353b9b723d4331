#include "service/native_http.h"

#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "service/api_errors.h"
#include "service/error_envelope.h"
#include "service/header_block.h"
#include "service/http_callback.h"
#include "service/protocol.h"
#include "service/request_shape.h"
#include "settings/api_origin.h"
#include "support/clock.h"
#include "support/text_encoding.h"

namespace qbsync {
namespace {

constexpr DWORD kBase64NoLineBreaks = 0x40000001;  // CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF
constexpr DWORD kAsyncSession = 0x10000000;
constexpr DWORD kNoProxy = 1;
constexpr DWORD kDisableFeatureOption = 63;
constexpr DWORD kDisableCookiesRedirectsAutoAuth = 7;
constexpr DWORD kContextValueOption = 45;
constexpr DWORD kCallbackFlags = 0x017E0C00;  // all completions plus handle notifications
constexpr DWORD kHeaderNotFound = 12150;
constexpr DWORD kReadPiece = 8192;
constexpr std::size_t kSuccessBodyLimit = 65536;

void secureZero(std::string& bytes) {
  if (!bytes.empty()) SecureZeroMemory(bytes.data(), bytes.size());
}

std::string base64(const std::string& bytes) {
  DWORD size = 0;
  if (!CryptBinaryToStringA(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()),
                            kBase64NoLineBreaks, nullptr, &size) ||
      size == 0) {
    throw std::runtime_error("AUTH_ENCODING_FAILED");
  }
  std::string out(size, '\0');
  if (!CryptBinaryToStringA(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()),
                            kBase64NoLineBreaks, out.data(), &size)) {
    secureZero(out);
    throw std::runtime_error("AUTH_ENCODING_FAILED");
  }
  out.resize(size);  // without the terminating NUL
  return out;
}

// Header values the client reads are ASCII; anything else cannot match.
std::string narrow(const wchar_t* text, DWORD bytes) {
  std::string out;
  for (DWORD i = 0; i < bytes / sizeof(wchar_t); ++i) {
    out.push_back(text[i] < 0x80 ? static_cast<char>(text[i]) : '\x7f');
  }
  return out;
}

// A header as text into a buffer of `bufferBytes`; false with the error code
// in `error` when it cannot be read.
bool queryHeader(HINTERNET request, DWORD info, const wchar_t* name, DWORD bufferBytes, std::string& value,
                 DWORD& error) {
  std::vector<wchar_t> buffer(bufferBytes / sizeof(wchar_t) + 1, L'\0');
  DWORD length = bufferBytes;
  if (!WinHttpQueryHeaders(request, info, name ? name : WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &length,
                           WINHTTP_NO_HEADER_INDEX)) {
    error = GetLastError();
    return false;
  }
  value = narrow(buffer.data(), length);
  return true;
}

// The part of a request that WinHTTP may still write after the requester has
// gone: the callback context and the read buffer.
struct RequestState {
  HttpRequestContext context;
  std::vector<char> buffer = std::vector<char>(kReadPiece);

  RequestState() {
    context.completion = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    context.closing = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    context.owner = this;
    context.dispose = [](void* owner) { delete static_cast<RequestState*>(owner); };
    if (!context.completion || !context.closing) {
      closeEvents();
      throw std::runtime_error("NETWORK_EVENT_FAILED");
    }
  }
  ~RequestState() { closeEvents(); }
  RequestState(const RequestState&) = delete;
  RequestState& operator=(const RequestState&) = delete;
  void closeEvents() {
    if (context.completion) CloseHandle(context.completion);
    if (context.closing) CloseHandle(context.closing);
    context.completion = context.closing = nullptr;
  }
};

// A request left to its closing notification still runs inside WinHTTP, and
// the notification calls back into this library. The host may unload the
// study (and with it the last reference to WinHTTP) before that happens, which
// would leave WinHTTP's worker and the callback running in unmapped code; so
// from then on both libraries stay loaded until the process ends.
void keepLoadedForHandedOverRequest() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&httpStatusCallback), &module);
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, L"winhttp.dll", &module);
}

// Handles of one request, closed in the order the callback requires on every
// way out.
struct RequestScope {
  // How long a closed request may take to confirm. Windows confirms at once;
  // a layer that first finishes a pending read would hold a cancelled request
  // until its receive time-out, so past this wait the state is left to the
  // closing notification instead.
  static constexpr DWORD kCloseWaitMs = 2000;

  RequestState* state = new RequestState();
  HttpRequestContext& context = state->context;
  HINTERNET session = nullptr;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;
  bool callback_installed = false;

  RequestScope() = default;
  RequestScope(const RequestScope&) = delete;
  RequestScope& operator=(const RequestScope&) = delete;
  ~RequestScope() {
    bool handedOver = false;
    if (request) {
      WinHttpCloseHandle(request);
      if (callback_installed) {
        WaitForSingleObject(context.closing, kCloseWaitMs);
        // Second to release disposes; a first release hands the state over.
        handedOver = !context.released.exchange(true);
        if (handedOver) keepLoadedForHandedOverRequest();
      }
    }
    if (connection) WinHttpCloseHandle(connection);
    if (session) WinHttpCloseHandle(session);
    if (!handedOver) delete state;
  }
};

}  // namespace

NativeHttp::NativeHttp(const ConnectionSettings& settings, std::string_view secret, std::string clientInstanceId,
                       std::uint32_t deadlineMs)
    : settings_(settings), client_instance_id_(std::move(clientInstanceId)), deadline_ms_(deadlineMs) {
  settings_.origin = normalizeApiOrigin(settings_.origin, settings_.allow_loopback_http);
  checkCredentials(client_instance_id_, settings_.email, secret);
  std::string plain = settings_.email + ":" + std::string(secret);
  try {
    std::string encoded = base64(plain);
    authorization_ = "Basic " + encoded;
    secureZero(encoded);
  } catch (...) {
    secureZero(plain);
    throw;
  }
  secureZero(plain);
  cancel_event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!cancel_event_) {
    secureZero(authorization_);
    throw std::runtime_error("NETWORK_EVENT_FAILED");
  }
}

NativeHttp::~NativeHttp() {
  secureZero(authorization_);
  if (cancel_event_) CloseHandle(cancel_event_);
}

void NativeHttp::cancel() { SetEvent(cancel_event_); }

HttpResponse NativeHttp::request(const std::string& method, const std::string& path, const std::string& body,
                                 const std::string& key) {
  const RequestKind kind = classifyRequest(method, path, body, key, settings_.account_id);
  if (WaitForSingleObject(cancel_event_, 0) == WAIT_OBJECT_0) return {};

  std::wstring origin = utf8ToWide(settings_.origin);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(origin.c_str(), static_cast<DWORD>(origin.size()), 0, &parts) || !parts.lpszHostName) {
    throw std::runtime_error("INVALID_API_ORIGIN");
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const INTERNET_PORT port = parts.nPort;
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  const std::wstring wideMethod = utf8ToWide(method);
  const std::wstring widePath = utf8ToWide(resolvePath(settings_.origin, path));

  // Declared before the scope: WinHTTP may use them until the scope closes.
  std::wstring headers;
  RequestScope scope;
  HttpRequestContext& context = scope.context;

  scope.session = WinHttpOpen(L"Quorbelle-Sierra/1.0", kNoProxy, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                              kAsyncSession);
  if (!scope.session) return {};
  WinHttpSetTimeouts(scope.session, 5000, 5000, 10000, 10000);
  scope.connection = WinHttpConnect(scope.session, host.c_str(), port, 0);
  if (!scope.connection) return {};
  scope.request = WinHttpOpenRequest(scope.connection, wideMethod.c_str(), widePath.c_str(), nullptr,
                                     WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                     secure ? WINHTTP_FLAG_SECURE : 0);
  if (!scope.request) return {};
  // WinHTTP's own wait for the status line has no limit by default, and on
  // some implementations closing the request does not interrupt it: the close
  // below would then wait for the closing notification forever. Bounding that
  // wait by the deadline keeps the promise of the deadline plus close time.
  DWORD answerWaitMs = deadline_ms_;
  WinHttpSetOption(scope.request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &answerWaitMs, sizeof(answerWaitMs));

  DWORD disable = kDisableCookiesRedirectsAutoAuth;
  if (!WinHttpSetOption(scope.request, kDisableFeatureOption, &disable, sizeof(disable))) {
    throw std::runtime_error("HTTP_POLICY_FAILED");
  }
  HttpRequestContext* contextAddress = &context;
  if (!WinHttpSetOption(scope.request, kContextValueOption, &contextAddress, sizeof(contextAddress))) {
    throw std::runtime_error("HTTP_CONTEXT_FAILED");
  }
  if (WinHttpSetStatusCallback(scope.request, httpStatusCallback, kCallbackFlags, 0) ==
      WINHTTP_INVALID_STATUS_CALLBACK) {
    throw std::runtime_error("HTTP_CALLBACK_FAILED");
  }
  scope.callback_installed = true;

  headers = utf8ToWide(
      buildHeaderBlock(authorization_, client_instance_id_, settings_.account_id, sendsContentType(kind), key));

  const std::uint64_t deadline = clock().tickMs() + deadline_ms_;
  auto step = [&](auto&& call, DWORD expected) {
    ResetEvent(context.completion);
    context.last_error.store(0);
    context.last_length.store(0);
    context.last_status.store(0);
    if (!call() && GetLastError() != kIoPending) return false;
    const std::uint64_t now = clock().tickMs();
    if (now >= deadline) return false;
    const HANDLE handles[2] = {cancel_event_, context.completion};
    const DWORD waitMs = static_cast<DWORD>(std::min<std::uint64_t>(deadline - now, INFINITE - 1));
    if (WaitForMultipleObjects(2, handles, FALSE, waitMs) != WAIT_OBJECT_0 + 1) return false;
    return stepSucceeded(context, expected);
  };

  const DWORD bodyLength = static_cast<DWORD>(body.size());
  const bool sent = step(
      [&] {
        return WinHttpSendRequest(scope.request, headers.c_str(), static_cast<DWORD>(headers.size()),
                                  body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data()),
                                  bodyLength, bodyLength, 0);
      },
      WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE);
  if (!sent) return {};
  if (!step([&] { return WinHttpReceiveResponse(scope.request, nullptr); },
            WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE)) {
    return {};
  }

  HttpResponse response;
  DWORD status = 0;
  DWORD statusSize = sizeof(status);
  if (!WinHttpQueryHeaders(scope.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX)) {
    throw std::runtime_error("HTTP_STATUS_INVALID");
  }
  response.status = static_cast<std::int32_t>(status);

  std::string text;
  DWORD error = 0;
  if (queryHeader(scope.request, WINHTTP_QUERY_CUSTOM, L"X-Quorbelle-Request-Id", 128, text, error) &&
      isRequestId(text)) {
    response.request_id = text;
  }
  if (queryHeader(scope.request, WINHTTP_QUERY_RETRY_AFTER, nullptr, 256, text, error)) {
    response.retry_after_seconds = retryAfterFromNow(text);
  }

  const bool success = status == 200 || status == 202;
  if (!success) {
    if (status < 400 || status > 499 || status == 408 || status == 429) return response;
    if (queryHeader(scope.request, WINHTTP_QUERY_CONTENT_LENGTH, nullptr, 64, text, error)) {
      const bool digits = !text.empty() && text.size() <= 18 &&
                          std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
      if (!digits || std::stoull(text) > kErrorBodyLimit) return response;
    } else if (error != kHeaderNotFound) {
      return response;
    }
    if (!queryHeader(scope.request, WINHTTP_QUERY_CONTENT_TYPE, nullptr, 256, text, error) ||
        !isJsonContentType(text)) {
      return response;
    }
  }

  std::string collected;
  for (;;) {
    const DWORD ask = success ? kReadPiece
                              : std::min<DWORD>(kReadPiece, static_cast<DWORD>(kErrorBodyLimit + 1 - collected.size()));
    if (!step([&] { return WinHttpReadData(scope.request, scope.state->buffer.data(), ask, nullptr); },
              WINHTTP_CALLBACK_STATUS_READ_COMPLETE)) {
      return success ? HttpResponse{} : response;
    }
    const DWORD got = context.last_length.load();
    if (got == 0) break;
    if (success) {
      if (got > kReadPiece || collected.size() + got > kSuccessBodyLimit) {
        throw std::runtime_error("HTTP_RESPONSE_LIMIT");
      }
    } else if (got > kReadPiece || collected.size() + got > kErrorBodyLimit) {
      return response;
    }
    collected.append(scope.state->buffer.data(), got);
  }
  if (success) {
    response.body = std::move(collected);
  } else {
    ErrorEnvelope envelope = readErrorEnvelope(collected);
    response.error_code = std::move(envelope.code);
    response.error_field = std::move(envelope.field);
  }
  return response;
}

}  // namespace qbsync
