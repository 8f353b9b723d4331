// The spool and outbox inspector: a read-only report of every scope under a
// trader's data folder, checked with the sender's own validators.
#ifndef QB_TOOLS_INSPECT_INSPECT_H
#define QB_TOOLS_INSPECT_INSPECT_H

#include <string>

#include <nlohmann/json.hpp>

namespace qbinspect {

struct Options {
  // The journal may hold fills with local fallback ids only when the trader
  // allowed them; used when the saved settings cannot be read.
  bool allowLocalFillIds = false;
};

// Inspects a data folder (the folder holding QuorbelleSync), the QuorbelleSync
// folder itself, or one scope outbox directory. Reads only. The report holds
// "root", "scopes" (one object each) and "problems" (each {"file",
// "reason"}, every file that fails its checks); "clean" is true when no
// problem was found anywhere. Throws std::runtime_error when the path is none
// of those.
nlohmann::json inspect(const std::string& path, const Options& options = {});

// The report for a person: one block per scope, problems last.
std::string renderText(const nlohmann::json& report);

}  // namespace qbinspect

#endif
