// Outbox and spool fixtures for the sender's tests: real record files in a
// fresh scope outbox directory, and settings for both protocol modes.
#ifndef QB_TESTS_SYNC_SPOOL_FIXTURE_H
#define QB_TESTS_SYNC_SPOOL_FIXTURE_H

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "settings/connection_settings.h"
#include "sync/native_spool.h"

namespace qbtest {

constexpr const char* kAccountId = "3f2b8c1e-9a4d-4e6f-8b7a-1c2d3e4f5a6b";

// A valid enabled journal-mode source (future ES 12-25, costs 1.25 / 0.5).
qbsync::ConnectionSettings journalSettings();
// The same source with the host's instrument metadata (native mode).
qbsync::ConnectionSettings nativeSettings();

// 64 hex digits derived from n, for record names.
std::string eventIdFor(int n);

// A fill record of the fixture source as the collector writes it.
nlohmann::json fillRecord(const qbsync::ConnectionSettings& s, int n, const std::string& executedAt,
                          const std::string& price = "6012.25", long long nativeIndex = -2);
nlohmann::json orderRecord(const qbsync::ConnectionSettings& s, int n, const std::string& observedAt);
nlohmann::json noteRecord(const qbsync::ConnectionSettings& s, int n, const std::string& observedAt,
                          const std::string& text);

struct OutboxFixture {
  explicit OutboxFixture(qbsync::ConnectionSettings s);
  // Writes the record as <event_id>.json (or under another name).
  void write(const nlohmann::json& record, const std::string& name = "");
  std::unique_ptr<qbsync::NativeSpool> open(qbsync::NativeSpool::StopPredicate stop = {});
  std::string spoolFile(const std::string& name) const { return outbox + "\\native-sync\\" + name; }

  qbsync::ConnectionSettings settings;
  std::string outbox;
  std::vector<std::string> log;
};

}  // namespace qbtest

#endif
