// The files a test reads back: executions per account, notes per UTC day,
// one line per request and the running counts. Every write is appended (or,
// for the counts, replaced whole) and flushed before the answer leaves, so a
// test that reads after the client finished sees everything. Thread-safe.
#pragma once

#include <nlohmann/json.hpp>

#include <map>
#include <mutex>
#include <string>

namespace qbpeer {

class PeerStore {
 public:
  // Creates DIR, DIR/executions and DIR/notes; throws std::runtime_error when
  // they cannot be created.
  explicit PeerStore(std::string state_dir);
  PeerStore(const PeerStore&) = delete;
  PeerStore& operator=(const PeerStore&) = delete;

  const std::string& dir() const { return dir_; }
  // Appends one compact JSON line to DIR/<relative>. Throws on write failure.
  void appendLine(const std::string& relative, const nlohmann::json& line);
  // Adds to one of the counts of stats.json (written by writeStats).
  void count(const std::string& name, long long by = 1);
  // Replaces DIR/stats.json with the current counts (write, then rename).
  void writeStats();

 private:
  const std::string dir_;
  std::mutex mutex_;
  std::map<std::string, long long> counts_;
};

}  // namespace qbpeer
