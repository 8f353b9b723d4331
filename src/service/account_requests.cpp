// Setup-time exchanges: each call owns its transport, its client instance id
// and a watcher thread that turns the window's cancel flag into a transport
// cancel, so a hung request never outlives the trader's patience.
#include "service/account_requests.h"

#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

#include "service/account_directory.h"
#include "service/logged_transport.h"
#include "service/native_http.h"
#include "service/protocol.h"
#include "support/identifier.h"

namespace qbsync {
namespace {

// Watches the cancel flag while a request sequence runs. The destructor
// stops and joins it, so an exception never leaves a thread behind.
class CancelWatcher {
 public:
  CancelWatcher(const std::atomic<bool>& cancel, ITransport& transport)
      : cancel_(cancel), transport_(transport), thread_([this] { watch(); }) {}
  ~CancelWatcher() { finish(); }
  CancelWatcher(const CancelWatcher&) = delete;
  CancelWatcher& operator=(const CancelWatcher&) = delete;

  void finish() {
    done_.exchange(true);
    if (thread_.joinable()) thread_.join();
  }

 private:
  void watch() {
    while (!done_.load()) {
      if (cancel_.load()) {
        transport_.cancel();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  }

  const std::atomic<bool>& cancel_;
  ITransport& transport_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

}  // namespace

std::vector<qbnative::SetupAccount> requestAccounts(const ConnectionSettings& candidate, const std::string& secret,
                                                    const std::atomic<bool>& cancel, LogSink sink) {
  NativeHttp http(candidate, secret, newIdentifier());
  HttpResponse directory;
  {
    CancelWatcher watcher(cancel, http);
    LoggedTransport transport(http, sink, candidate.origin);
    if (cancel) throw std::runtime_error("ACCOUNT_LOADING_CANCELLED");
    checkReadiness(transport.request("GET", std::string(kReadinessPath), "", ""), "", true);
    if (cancel) throw std::runtime_error("ACCOUNT_LOADING_CANCELLED");
    directory = transport.request("POST", std::string(kAccountDirectoryPath), "{}", "");
    watcher.finish();
  }
  if (cancel) throw std::runtime_error("ACCOUNT_LOADING_CANCELLED");
  if (directory.status != 200) throw std::runtime_error("COULD_NOT_LOAD_ACCOUNTS");
  return readAccountDirectory(directory.body);
}

void requestConnectionCheck(const ConnectionSettings& candidate, const std::string& secret,
                            const std::atomic<bool>& cancel, LogSink sink) {
  NativeHttp http(candidate, secret, newIdentifier());
  HttpResponse readiness;
  {
    CancelWatcher watcher(cancel, http);
    LoggedTransport transport(http, sink, candidate.origin);
    readiness = transport.request("GET", std::string(kReadinessPath), "", "");
    watcher.finish();
  }
  // The flag is tested before the answer is judged: a cancelled request
  // reads as cancelled, not as a network failure.
  if (cancel) throw std::runtime_error("CONNECTION_CHECK_CANCELLED");
  checkReadiness(readiness, candidate.account_id, false);
}

}  // namespace qbsync
