// Scripted faults, read from DIR/script.json before every request so that a
// test can rewrite it between requests. When the file's bytes change, every
// rule's counters restart. Thread-safe.
#pragma once

#include <nlohmann/json.hpp>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qbpeer {

struct FiredRule {
  int index = 0;            // position of the rule in "rules"
  nlohmann::json action;    // the rule's "action" object
};

class FaultScript {
 public:
  explicit FaultScript(std::string path);
  FaultScript(const FaultScript&) = delete;
  FaultScript& operator=(const FaultScript&) = delete;

  // Counts the request against every rule whose filters match and returns
  // the first rule that fires (its nth reached and times not used up), or
  // nothing. A script that does not parse is reported once on stderr and
  // treated as empty.
  std::optional<FiredRule> take(const std::string& method, const std::string& path);

 private:
  struct Rule {
    std::string method, path, path_prefix;
    long long nth = 1, times = 1;  // times 0: unlimited
    long long seen = 0, fired = 0;
    nlohmann::json action;
  };
  void reload();

  const std::string path_;
  std::mutex mutex_;
  std::string text_;
  bool loaded_ = false;
  std::vector<Rule> rules_;
};

}  // namespace qbpeer
