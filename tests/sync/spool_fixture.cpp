#include "sync/spool_fixture.h"

#include <cstdio>

#include "common/temp_dir.h"

namespace qbtest {

qbsync::ConnectionSettings journalSettings() {
  qbsync::ConnectionSettings s;
  s.origin = "https://journal.example.test";
  s.email = "trader@example.com";
  s.account_id = kAccountId;
  s.account_name = "Main";
  s.source_account = "Sim1";
  s.source_symbol = "ESZ25";
  s.session_id = "9e1d3a5c-7b2f-4c8e-a1d0-5f6e7a8b9c0d";
  s.api_symbol = "ES 12-25";
  s.asset_type = "future";
  s.commission_per_unit = "1.25";
  s.fees_per_unit = "0.5";
  s.simulation = true;
  s.sync_notes = true;
  s.enabled = true;
  return s;
}

qbsync::ConnectionSettings nativeSettings() {
  qbsync::ConnectionSettings s = journalSettings();
  s.native_instrument_protocol = true;
  s.commission_per_unit = "0";
  s.fees_per_unit = "0";
  return s;
}

std::string eventIdFor(int n) {
  char buffer[65];
  std::snprintf(buffer, sizeof buffer, "%064x", n);
  return buffer;
}

namespace {

nlohmann::json envelope(const qbsync::ConnectionSettings& s, int n, const std::string& observedAt,
                        const char* kind) {
  return {{"schema_version", 1},      {"event_id", eventIdFor(n)}, {"source_account", s.source_account},
          {"source_symbol", s.source_symbol}, {"session_id", s.session_id}, {"simulation", s.simulation},
          {"replay", s.replay},       {"observed_at", observedAt}, {"kind", kind}};
}

}  // namespace

nlohmann::json fillRecord(const qbsync::ConnectionSettings& s, int n, const std::string& executedAt,
                          const std::string& price, long long nativeIndex) {
  nlohmann::json r = envelope(s, n, "2025-12-01T15:00:00.000000Z", "fill");
  r["native_fill_id"] = "exec-" + std::to_string(n);
  r["executed_at"] = executedAt;
  r["side"] = n % 2 ? "buy" : "sell";
  r["quantity"] = "2";
  r["price"] = price;
  r["native_fill_index"] = nativeIndex == -2 ? n : nativeIndex;
  if (nativeIndex == -1) r.erase("native_fill_index");
  r["identity_quality"] = "service";
  r["internal_order_id"] = std::to_string(1000 + n);
  r["service_order_id"] = "svc-" + std::to_string(n);
  r["position_quantity"] = "2";
  r["note"] = "";
  r["instrument_metadata"] = {{"chart_symbol", s.source_symbol},
                              {"market_data_connected", true},
                              {"metadata_scope", "trade_symbol"},
                              {"source_symbol", s.source_symbol},
                              {"tick_size", "0.25"}};
  r["source_chart_timezone"] = "New York (UTC-05)";
  return r;
}

nlohmann::json orderRecord(const qbsync::ConnectionSettings& s, int n, const std::string& observedAt) {
  nlohmann::json r = envelope(s, n, observedAt, "order");
  r["internal_order_id"] = std::to_string(2000 + n);
  r["parent_internal_order_id"] = "0";
  r["order_type"] = "Stop";
  r["order_type_code"] = 3;
  r["status"] = 2;
  r["side"] = "sell";
  r["quantity"] = "1";
  r["price1"] = "5990";
  r["snapshot_at"] = observedAt;
  return r;
}

nlohmann::json noteRecord(const qbsync::ConnectionSettings& s, int n, const std::string& observedAt,
                          const std::string& text) {
  nlohmann::json r = envelope(s, n, observedAt, "note");
  r["note_id"] = "manual:" + std::to_string(n);
  r["note"] = text;
  r["internal_order_id"] = "";
  return r;
}

OutboxFixture::OutboxFixture(qbsync::ConnectionSettings s) : settings(std::move(s)), outbox(freshTempDir("outbox")) {}

void OutboxFixture::write(const nlohmann::json& record, const std::string& name) {
  const std::string file = name.empty() ? record["event_id"].get<std::string>() + ".json" : name;
  writeFileBytes(outbox + "\\" + file, record.dump() + "\n");
}

std::unique_ptr<qbsync::NativeSpool> OutboxFixture::open(qbsync::NativeSpool::StopPredicate stop) {
  return qbsync::NativeSpool::open(settings, outbox, std::move(stop),
                                   [this](const std::string& text, bool) { log.push_back(text); });
}

}  // namespace qbtest
