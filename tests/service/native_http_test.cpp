// NativeHttp without a service: construction checks, requests refused before
// any network activity, the deadline and cancellation against a listener
// that never answers, and the status callback driven directly.
#include "service/native_http.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "service/http_callback.h"

namespace qbsync {
namespace {

constexpr const char* kInstance = "0f8fad5b-d9cb-469f-a165-70867728950e";
constexpr const char* kKey = "7c9e6679-7425-40de-944b-e07fc1f90ae7";

// A loopback TCP listener that never accepts: connections complete through
// the backlog and then hear nothing.
class SilentListener {
 public:
  SilentListener() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::listen(socket_, 8);
    int length = sizeof(address);
    ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~SilentListener() {
    closesocket(socket_);
    WSACleanup();
  }
  int port() const { return port_; }
  // True when a connection is waiting in the backlog.
  bool connectionPending() const {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket_, &set);
    timeval zero{0, 200000};
    return ::select(0, &set, nullptr, nullptr, &zero) > 0;
  }

 private:
  SOCKET socket_ = INVALID_SOCKET;
  int port_ = 0;
};

ConnectionSettings loopbackSettings(int port) {
  ConnectionSettings settings;
  settings.origin = "http://127.0.0.1:" + std::to_string(port);
  settings.allow_loopback_http = true;
  settings.email = "trader@example.com";
  return settings;
}

std::string thrown(const std::function<void()>& action) {
  try {
    action();
    return "";
  } catch (const std::runtime_error& e) {
    return e.what();
  }
}

TEST(NativeHttp, ConstructionChecksTable) {
  struct Case {
    const char* name;
    std::string origin;
    bool loopback;
    std::string email, secret, instance;
    std::string expected;
  };
  const Case cases[] = {
      {"valid https", "https://localhost:8443/", false, "a@b", "s", kInstance, ""},
      {"valid loopback http", "http://127.0.0.1:8080", true, "a@b", "s", kInstance, ""},
      {"loopback http not allowed", "http://127.0.0.1:8080", false, "a@b", "s", kInstance, "HTTPS_REQUIRED"},
      {"loopback by name", "http://localhost:8080", true, "a@b", "s", kInstance, "HTTPS_REQUIRED"},
      {"two slashes", "https://localhost//", false, "a@b", "s", kInstance, "INVALID_API_ORIGIN"},
      {"port 0", "https://localhost:0", false, "a@b", "s", kInstance, "INVALID_API_PORT"},
      {"email with colon", "https://localhost", false, "a:b", "s", kInstance, "INVALID_CREDENTIALS"},
      {"empty secret", "https://localhost", false, "a@b", "", kInstance, "INVALID_CREDENTIALS"},
      {"bad instance", "https://localhost", false, "a@b", "s", "x", "INVALID_CREDENTIALS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConnectionSettings settings;
    settings.origin = c.origin;
    settings.allow_loopback_http = c.loopback;
    settings.email = c.email;
    EXPECT_EQ(thrown([&] { NativeHttp http(settings, c.secret, c.instance); }), c.expected);
  }
}

TEST(NativeHttp, MisshapenRequestsNeverReachTheNetwork) {
  SilentListener listener;
  ConnectionSettings settings = loopbackSettings(listener.port());
  NativeHttp http(settings, "secret", kInstance);
  struct Case {
    const char* name;
    std::string method, path, body, key, expected;
  };
  const Case cases[] = {
      {"65537-byte note", "POST", "/api/v2/journal/notes", std::string(65537, 'n'), kKey, "INVALID_REQUEST_SHAPE"},
      {"upper-case key", "POST", "/api/v2/journal/notes", "{}", "7C9E6679-7425-40DE-944B-E07FC1F90AE7",
       "INVALID_REQUEST_SHAPE"},
      {"import status with key", "GET", std::string("/api/v2/journal/execution-imports/") + kKey, "", kKey,
       "INVALID_REQUEST_SHAPE"},
      {"unknown path", "GET", "/", "", "", "INVALID_REQUEST_PATH"},
      {"wrong method", "DELETE", "/api/v2/journal/notes", "{}", kKey, "INVALID_REQUEST_METHOD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(thrown([&] { http.request(c.method, c.path, c.body, c.key); }), c.expected);
  }
  EXPECT_FALSE(listener.connectionPending());

  settings.account_id = "NOT-AN-ID";
  NativeHttp badAccount(settings, "secret", kInstance);
  EXPECT_EQ(thrown([&] { badAccount.request("GET", "/api/sierrachart-sync/", "", ""); }), "INVALID_REQUEST_SHAPE");
  EXPECT_EQ(thrown([&] { badAccount.request("POST", "/api/v2/journal/accounts", "{}", ""); }),
            "INVALID_ACCOUNT_ID");
}

TEST(NativeHttp, UnansweredRequestEndsAtTheDeadline) {
  SilentListener listener;
  NativeHttp http(loopbackSettings(listener.port()), "secret", kInstance, 1500);
  const auto start = std::chrono::steady_clock::now();
  const HttpResponse response = http.request("POST", "/api/v2/journal/accounts", "{}", "");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(response.status, 0);
  EXPECT_TRUE(response.body.empty());
  EXPECT_GE(elapsed, std::chrono::milliseconds(1400));
  EXPECT_LT(elapsed, std::chrono::milliseconds(10000));
}

TEST(NativeHttp, CancelEndsTheRequestInFlightAndEveryLaterOne) {
  SilentListener listener;
  NativeHttp http(loopbackSettings(listener.port()), "secret", kInstance);  // the full 30 s deadline
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    http.cancel();
  });
  const auto start = std::chrono::steady_clock::now();
  const HttpResponse first = http.request("GET", "/api/sierrachart-sync/", "", "");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  canceller.join();
  EXPECT_EQ(first.status, 0);
  EXPECT_LT(elapsed, std::chrono::milliseconds(10000));

  const auto laterStart = std::chrono::steady_clock::now();
  EXPECT_EQ(http.request("GET", "/api/sierrachart-sync/", "", "").status, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - laterStart, std::chrono::milliseconds(500));
}

TEST(HttpStatusCallback, RecordsWhatTheStepJudges) {
  HttpRequestContext context;
  context.completion = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  context.closing = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const auto ctx = reinterpret_cast<DWORD_PTR>(&context);

  httpStatusCallback(nullptr, ctx, WINHTTP_CALLBACK_STATUS_READ_COMPLETE, nullptr, 42);
  EXPECT_EQ(WaitForSingleObject(context.completion, 0), WAIT_OBJECT_0);
  EXPECT_EQ(context.last_length.load(), 42u);
  EXPECT_TRUE(stepSucceeded(context, WINHTTP_CALLBACK_STATUS_READ_COMPLETE));
  EXPECT_FALSE(stepSucceeded(context, WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE));

  // A certificate failure arrives as a request error and is thrown, not returned.
  ResetEvent(context.completion);
  WINHTTP_ASYNC_RESULT secure{API_SEND_REQUEST, kSecureFailure};
  httpStatusCallback(nullptr, ctx, WINHTTP_CALLBACK_STATUS_REQUEST_ERROR, &secure, sizeof(secure));
  EXPECT_EQ(WaitForSingleObject(context.completion, 0), WAIT_OBJECT_0);
  EXPECT_EQ(thrown([&] { stepSucceeded(context, WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE); }),
            "TLS_VALIDATION_FAILED");

  // Other request errors (wine reports an untrusted chain as 12157) fail the step quietly.
  WINHTTP_ASYNC_RESULT channel{API_SEND_REQUEST, 12157};
  httpStatusCallback(nullptr, ctx, WINHTTP_CALLBACK_STATUS_REQUEST_ERROR, &channel, sizeof(channel));
  EXPECT_FALSE(stepSucceeded(context, WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE));
  httpStatusCallback(nullptr, ctx, WINHTTP_CALLBACK_STATUS_REQUEST_ERROR, nullptr, 0);
  EXPECT_EQ(context.last_error.load(), kNoAsyncResult);

  EXPECT_NE(WaitForSingleObject(context.closing, 0), WAIT_OBJECT_0);
  httpStatusCallback(nullptr, ctx, WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING, nullptr, 0);
  EXPECT_EQ(WaitForSingleObject(context.closing, 0), WAIT_OBJECT_0);
  httpStatusCallback(nullptr, 0, WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING, nullptr, 0);  // null context ignored

  CloseHandle(context.completion);
  CloseHandle(context.closing);
}

}  // namespace
}  // namespace qbsync
