#include "fault_script.h"

#include <fstream>
#include <iostream>
#include <sstream>

namespace qbpeer {

FaultScript::FaultScript(std::string path) : path_(std::move(path)) {}

void FaultScript::reload() {
  std::string now;
  {
    std::ifstream in(path_, std::ios::binary);
    if (in) {
      std::stringstream ss;
      ss << in.rdbuf();
      now = ss.str();
    }
  }
  if (loaded_ && now == text_) return;
  loaded_ = true;
  text_ = now;
  rules_.clear();
  if (now.find_first_not_of(" \t\r\n") == std::string::npos) return;
  try {
    const auto doc = nlohmann::json::parse(now);
    for (const auto& r : doc.at("rules")) {
      Rule rule;
      const auto match = r.contains("match") ? r.at("match") : nlohmann::json::object();
      if (match.contains("method")) rule.method = match.at("method").get<std::string>();
      if (match.contains("path")) rule.path = match.at("path").get<std::string>();
      if (match.contains("path_prefix")) rule.path_prefix = match.at("path_prefix").get<std::string>();
      if (match.contains("nth")) rule.nth = match.at("nth").get<long long>();
      if (r.contains("times")) rule.times = r.at("times").get<long long>();
      rule.action = r.at("action");
      if (!rule.action.is_object()) throw std::runtime_error("\"action\" must be an object");
      rules_.push_back(rule);
    }
  } catch (const std::exception& e) {
    std::cerr << "qb-peer: ignoring " << path_ << ": " << e.what() << std::endl;
    rules_.clear();
  }
}

std::optional<FiredRule> FaultScript::take(const std::string& method, const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  reload();
  std::optional<FiredRule> chosen;
  for (size_t i = 0; i < rules_.size(); ++i) {
    Rule& r = rules_[i];
    if (!r.method.empty() && r.method != method) continue;
    if (!r.path.empty() && r.path != path) continue;
    if (!r.path_prefix.empty() && path.rfind(r.path_prefix, 0) != 0) continue;
    ++r.seen;
    if (chosen || r.seen < r.nth || (r.times > 0 && r.fired >= r.times)) continue;
    ++r.fired;
    chosen = FiredRule{static_cast<int>(i), r.action};
  }
  return chosen;
}

}  // namespace qbpeer
