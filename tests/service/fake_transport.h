// A scripted ITransport for tests above the network: answers or throws what
// the test queued, records what it was asked.
#ifndef QB_TESTS_SERVICE_FAKE_TRANSPORT_H
#define QB_TESTS_SERVICE_FAKE_TRANSPORT_H

#include <atomic>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "service/transport.h"

namespace qbsync {

class FakeTransport final : public ITransport {
 public:
  struct Call {
    std::string method, path, body, key;
  };
  // Either an answer or, when `throws` is not empty, a runtime error.
  struct Step {
    HttpResponse response;
    std::string throws;
    std::function<void()> during;  // runs while the request is "in flight"
  };

  void answer(HttpResponse response) { steps.push_back({std::move(response), "", nullptr}); }
  void answer(int status, std::string body = "") {
    HttpResponse r;
    r.status = status;
    r.body = std::move(body);
    answer(std::move(r));
  }
  void fail(std::string message) { steps.push_back({{}, std::move(message), nullptr}); }

  HttpResponse request(const std::string& method, const std::string& path, const std::string& body,
                       const std::string& key) override {
    calls.push_back({method, path, body, key});
    if (steps.empty()) throw std::logic_error("unexpected request " + method + " " + path);
    Step step = std::move(steps.front());
    steps.pop_front();
    if (step.during) step.during();
    if (!step.throws.empty()) throw std::runtime_error(step.throws);
    if (cancelled) return {};
    return step.response;
  }
  void cancel() override { cancelled = true; }

  std::deque<Step> steps;
  std::vector<Call> calls;
  std::atomic<bool> cancelled{false};
};

struct LogLine {
  std::string text;
  bool isError;
  bool operator==(const LogLine&) const = default;
};

}  // namespace qbsync

#endif
