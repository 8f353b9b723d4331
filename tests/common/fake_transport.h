// A scripted ITransport: answers requests from a queue (or a fallback) and
// records what was asked, so engine code can be driven without a network.
#ifndef QB_TESTS_COMMON_FAKE_TRANSPORT_H
#define QB_TESTS_COMMON_FAKE_TRANSPORT_H

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "service/http_response.h"
#include "service/transport.h"

namespace qbtest {

struct RecordedRequest {
  std::string method;
  std::string path;
  std::string body;
  std::string key;
};

class FakeTransport : public qbsync::ITransport {
 public:
  using Responder = std::function<qbsync::HttpResponse(const RecordedRequest&)>;

  qbsync::HttpResponse request(const std::string& method, const std::string& path, const std::string& body,
                               const std::string& key) override {
    RecordedRequest r{method, path, body, key};
    Responder responder;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      requests_.push_back(r);
      if (cancelled_) return qbsync::HttpResponse{};
      if (!queue_.empty()) {
        responder = std::move(queue_.front());
        queue_.pop_front();
      } else {
        responder = fallback_;
      }
    }
    if (!responder) return qbsync::HttpResponse{};
    return responder(r);
  }
  void cancel() override { cancelled_ = true; }

  void push(Responder responder) {
    std::lock_guard<std::mutex> guard(mutex_);
    queue_.push_back(std::move(responder));
  }
  void push(int status, std::string body = "", int retryAfter = 0) {
    push([status, body, retryAfter](const RecordedRequest&) {
      qbsync::HttpResponse r;
      r.status = status;
      r.body = body;
      r.retry_after_seconds = retryAfter;
      return r;
    });
  }
  void setFallback(Responder responder) {
    std::lock_guard<std::mutex> guard(mutex_);
    fallback_ = std::move(responder);
  }
  std::vector<RecordedRequest> requests() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return requests_;
  }
  bool cancelled() const { return cancelled_; }

 private:
  mutable std::mutex mutex_;
  std::deque<Responder> queue_;
  Responder fallback_;
  std::vector<RecordedRequest> requests_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace qbtest

#endif
