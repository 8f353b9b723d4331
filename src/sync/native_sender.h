// The worker that delivers one source's saved records: it opens the spool,
// proves access to the destination, then twice a second takes in new outbox
// records, runs one sync step when due and publishes a status line. It works
// on its own copies of the settings and the secret and never touches the
// controller.
#ifndef QB_SYNC_NATIVE_SENDER_H
#define QB_SYNC_NATIVE_SENDER_H

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "service/transport.h"
#include "settings/connection_settings.h"
#include "support/log_queue.h"
#include "sync/sync_sender.h"

namespace qbsync {

// Builds the transport of one run from the settings, the secret and the
// spool's client instance id. Throws on invalid credentials or origin.
using TransportFactory = std::function<std::shared_ptr<ITransport>(
    const ConnectionSettings& settings, const std::string& secret, const std::string& clientInstanceId)>;

class NativeSender final : public SyncSender {
 public:
  // Starts the thread; throws std::system_error when it cannot start.
  NativeSender(ConnectionSettings settings, std::string secret, std::string outboxDir, LogSink logSink,
               TransportFactory transportFactory);
  // requestStop, then joins.
  ~NativeSender() override;
  NativeSender(const NativeSender&) = delete;
  NativeSender& operator=(const NativeSender&) = delete;

  void requestStop() override;
  void stopAndJoin() override;
  bool stopRequested() const override { return stop_requested_.load(); }
  bool halted() const override { return halted_.load(); }
  bool verified() const override { return verified_.load(); }
  std::string statusText() const override;

 private:
  struct StartPackage;
  void run(std::unique_ptr<StartPackage> start);
  void body(StartPackage& start);
  void setStatus(const std::string& text);
  // Waits up to ms or until a stop; true when stopped.
  bool waitOrStop(std::uint64_t ms);
  void reportFailure(const std::string& message);

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::atomic<bool> stop_requested_{false};
  std::atomic<bool> halted_{false};
  std::atomic<bool> verified_{false};
  std::shared_ptr<ITransport> transport_;
  LogSink log_sink_;
  std::string status_text_ = "Connecting to Quorbelle...";
  std::thread thread_;
};

// The production transport: WinHTTP with Basic credentials.
TransportFactory nativeHttpTransportFactory();

}  // namespace qbsync

#endif
