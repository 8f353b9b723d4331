// The per-request context shared with WinHTTP's status callback, the callback
// itself and the judgement of one asynchronous step. Visible so that tests
// can drive the callback with notifications the network seldom produces.
#ifndef QB_SERVICE_HTTP_CALLBACK_H
#define QB_SERVICE_HTTP_CALLBACK_H

#include <windows.h>
#include <winhttp.h>

#include <atomic>

namespace qbsync {

inline constexpr DWORD kIoPending = 997;
inline constexpr DWORD kSecureFailure = 12175;
inline constexpr DWORD kNoAsyncResult = 31;

// One request's context. The callback writes only the three values (by
// exchange) and sets the two events. When the requester stops waiting for the
// closing notification (a layer that closes a request only once its pending
// read ends), ownership passes to the callback: of the requester and the
// closing notification, whichever exchanges `released` second calls
// `dispose(owner)`, and nothing touches the context after that.
struct HttpRequestContext {
  HANDLE completion = nullptr;  // manual reset
  HANDLE closing = nullptr;     // manual reset
  std::atomic<DWORD> last_error{0};
  std::atomic<DWORD> last_length{0};
  std::atomic<DWORD> last_status{0};
  std::atomic<bool> released{false};
  void (*dispose)(void* owner) = nullptr;
  void* owner = nullptr;
};

// The status callback installed on every request handle. Any WinHTTP thread.
void CALLBACK httpStatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);

// After the completion event: throws std::runtime_error "TLS_VALIDATION_FAILED"
// for the secure-failure error; true when no error was recorded and the
// recorded status is `expected`.
bool stepSucceeded(const HttpRequestContext& context, DWORD expected);

// Tests only: when set, every completion notification is first offered to the
// tap; a non-zero result replaces it by a request error with that code.
using HttpStatusTap = DWORD (*)(DWORD status);
void setHttpStatusTapForTesting(HttpStatusTap tap);

}  // namespace qbsync

#endif
