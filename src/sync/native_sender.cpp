#include "sync/native_sender.h"

#include <algorithm>
#include <regex>
#include <stdexcept>
#include <utility>

#include "service/api_errors.h"
#include "service/json_object.h"
#include "service/logged_transport.h"
#include "service/native_http.h"
#include "service/protocol.h"
#include "support/clock.h"
#include "sync/batches.h"
#include "sync/intake.h"
#include "sync/native_spool.h"
#include "sync/sync_step.h"

namespace qbsync {
namespace {

constexpr std::uint64_t kLoopTurnMs = 500;
constexpr int kMaxAccessAttempt = 6;
const char* const kWaitingText = "Connection unavailable; local capture continues. Retrying Quorbelle...";

void zeroBytes(std::string& text) {
  volatile char* p = text.data();
  for (std::size_t i = 0; i < text.size(); ++i) p[i] = 0;
  text.clear();
}

bool isCode(const std::string& text) {
  static const std::regex pattern("[A-Z0-9_]{1,100}");
  return std::regex_match(text, pattern);
}

// The journal-mode proof: the account directory must list the destination.
void requireDestinationListed(const HttpResponse& response, const std::string& accountId) {
  const nlohmann::json root = parseJsonObject(response.body, 65536);
  const auto accounts = root.find("accounts");
  if (accounts == root.end() || !accounts->is_array()) throw std::runtime_error("INVALID_ACCOUNT_DIRECTORY");
  for (const nlohmann::json& element : *accounts) {
    // value() refuses a non-object element with the library's type error.
    if (element.value("account_id", std::string()) == accountId) return;
  }
  throw std::runtime_error("DESTINATION_NOT_AUTHORIZED");
}

}  // namespace

struct NativeSender::StartPackage {
  ConnectionSettings settings;
  std::string secret;
  std::string outboxDir;
  TransportFactory transportFactory;
  ~StartPackage() { zeroBytes(secret); }
};

NativeSender::NativeSender(ConnectionSettings settings, std::string secret, std::string outboxDir, LogSink logSink,
                           TransportFactory transportFactory)
    : log_sink_(std::move(logSink)) {
  auto start = std::make_unique<StartPackage>();
  start->settings = std::move(settings);
  start->secret = std::move(secret);
  start->outboxDir = std::move(outboxDir);
  start->transportFactory = std::move(transportFactory);
  thread_ = std::thread(&NativeSender::run, this, std::move(start));
}

NativeSender::~NativeSender() { stopAndJoin(); }

void NativeSender::requestStop() {
  stop_requested_.exchange(true);
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (transport_) transport_->cancel();
  }
  wake_.notify_all();
}

void NativeSender::stopAndJoin() {
  requestStop();
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) {
      throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur));
    }
    thread_.join();
  }
}

std::string NativeSender::statusText() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return status_text_;
}

void NativeSender::setStatus(const std::string& text) {
  std::lock_guard<std::mutex> guard(mutex_);
  status_text_ = text;
}

bool NativeSender::waitOrStop(std::uint64_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return clock().waitFor(wake_, lock, ms, [this] { return stop_requested_.load(); });
}

void NativeSender::reportFailure(const std::string& message) {
  logTo(log_sink_, message, true);
  setStatus(message);
  halted_.exchange(true);
}

void NativeSender::run(std::unique_ptr<StartPackage> start) {
  try {
    body(*start);
  } catch (const NativeReadinessError& e) {
    if (!stop_requested_) reportFailure(e.what());
  } catch (const NativeApiError& e) {
    if (!stop_requested_) reportFailure(rejectionMessage(e));
  } catch (const std::exception& e) {
    if (!stop_requested_) {
      const std::string code = isCode(e.what()) ? e.what() : "SYNC_STATE_OR_PROTOCOL_ERROR";
      reportFailure("Needs attention: " + code + ". Saved records are retained.");
    }
  } catch (...) {
    if (!stop_requested_) reportFailure("Needs attention: native sender error. Saved records are retained.");
  }
}

void NativeSender::body(StartPackage& start) {
  const ConnectionSettings& settings = start.settings;
  std::unique_ptr<NativeSpool> spool = NativeSpool::open(
      settings, start.outboxDir, [this] { return stop_requested_.load(); }, log_sink_);

  std::shared_ptr<ITransport> http = start.transportFactory(settings, start.secret, spool->client_instance_id);
  LoggedTransport logged(*http, log_sink_, settings.origin);
  zeroBytes(start.secret);  // from here the secret lives only in the transport
  {
    std::lock_guard<std::mutex> guard(mutex_);
    transport_ = http;
    if (stop_requested_) http->cancel();
  }

  // Prove access before touching the network for delivery.
  const bool native = settings.native_instrument_protocol;
  for (int attempt = 0;;) {
    const HttpResponse response = native ? logged.request("GET", "/api/sierrachart-sync/", "", "")
                                         : logged.request("POST", "/api/v2/journal/accounts", "{}", "");
    if (stop_requested_) return;
    if (response.status == 200) {
      if (native) {
        checkReadiness(response, settings.account_id, false);
        verified_.exchange(true);
      } else {
        requireDestinationListed(response, settings.account_id);
      }
      break;
    }
    if (!isRetryableStatus(response.status)) {
      if (native) checkReadiness(response, settings.account_id, false);
      throw std::runtime_error("ACCOUNT_AUTHENTICATION_FAILED");
    }
    logTo(log_sink_, kWaitingText, true);
    setStatus(kWaitingText);
    attempt = std::min(attempt + 1, kMaxAccessAttempt);
    const std::uint64_t waitSeconds =
        std::max<std::uint64_t>(response.retry_after_seconds > 0 ? response.retry_after_seconds : 0, 1ULL << attempt);
    if (waitOrStop(waitSeconds * 1000)) return;
  }

  logTo(log_sink_, "Sender connection verified; processing saved executions and notes.", false);
  std::uint64_t nextStepAt = 0;
  while (!stop_requested_) {
    intakePass(*spool);
    const std::uint64_t now = clock().tickMs();
    if (now >= nextStepAt && !stop_requested_) nextStepAt = now + syncStep(*spool, logged);
    setStatus(statusSummary(*spool));
    if (waitOrStop(kLoopTurnMs)) break;
  }
}

TransportFactory nativeHttpTransportFactory() {
  return [](const ConnectionSettings& settings, const std::string& secret,
            const std::string& clientInstanceId) -> std::shared_ptr<ITransport> {
    return std::make_shared<NativeHttp>(settings, secret, clientInstanceId);
  };
}

}  // namespace qbsync
