#include "peer_store.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace qbpeer {

PeerStore::PeerStore(std::string state_dir) : dir_(std::move(state_dir)) {
  namespace fs = std::filesystem;
  fs::create_directories(fs::path(dir_) / "executions");
  fs::create_directories(fs::path(dir_) / "notes");
  for (const char* name : {"applied_batches", "conflicts", "duplicate_executions", "executions_stored",
                           "faults_applied", "notes_stored", "refused", "replays", "requests", "status_polls"})
    counts_[name] = 0;
  writeStats();
}

void PeerStore::appendLine(const std::string& relative, const nlohmann::json& line) {
  const std::string text = line.dump() + "\n";
  const std::string path = dir_ + "/" + relative;
  std::lock_guard<std::mutex> lock(mutex_);
  FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) throw std::runtime_error("cannot open " + path);
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
  std::fclose(f);
  if (!ok) throw std::runtime_error("cannot append to " + path);
}

void PeerStore::count(const std::string& name, long long by) {
  std::lock_guard<std::mutex> lock(mutex_);
  counts_[name] += by;
}

void PeerStore::writeStats() {
  std::lock_guard<std::mutex> lock(mutex_);
  nlohmann::json doc = nlohmann::json::object();
  for (const auto& [k, v] : counts_) doc[k] = v;
  const std::string text = doc.dump() + "\n";
  const std::string path = dir_ + "/stats.json";
  const std::string tmp = path + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + tmp);
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
  std::fclose(f);
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) throw std::runtime_error("cannot replace " + path);
}

}  // namespace qbpeer
