#include "sync/native_spool.h"

#include <windows.h>

#include <stdexcept>
#include <utility>

#include "service/json_object.h"
#include "storage/durable_file.h"
#include "storage/file_api.h"
#include "storage/folder_rules.h"
#include "support/clock.h"
#include "support/identifier.h"
#include "sync/journal_load.h"
#include "sync/record_fields.h"

namespace qbsync {
namespace {

constexpr std::uint64_t kMiB = 1048576;
constexpr std::uint64_t kBudgetHeadroom = 2 * kMiB;
constexpr std::uint64_t kSizeCacheMs = 1000;

[[noreturn]] void fail(const char* code) { throw std::runtime_error(code); }

bool isIntegerOne(const nlohmann::json& value) {
  if (value.is_number_unsigned()) return value.get<std::uint64_t>() == 1;
  return value.is_number_integer() && value.get<std::int64_t>() == 1;
}

}  // namespace

std::string mappingText(const ConnectionSettings& s) {
  if (s.native_instrument_protocol) {
    return compactJson(nlohmann::json{{"costs", "unavailable_zero"}, {"native_instrument_protocol", 1}});
  }
  return compactJson(nlohmann::json{{"asset_type", s.asset_type},
                                    {"symbol", s.api_symbol},
                                    {"currency", s.currency},
                                    {"commission_per_unit", s.commission_per_unit},
                                    {"fees_per_unit", s.fees_per_unit}});
}

nlohmann::json readManifest(const std::string& spoolDir) {
  const std::string manifestPath = spoolDir + "\\manifest.json";
  requirePathKind(manifestPath, false);
  return parseJsonObject(readSmallFile(manifestPath), kSmallFileLimit);
}

std::string verifyManifest(const nlohmann::json& manifest, const nlohmann::json& binding) {
  const auto schema = manifest.find("schema_version");
  const auto bound = manifest.find("binding");
  if (schema == manifest.end() || !isIntegerOne(*schema) || bound == manifest.end() || *bound != binding) {
    fail("SPOOL_BINDING_MISMATCH");
  }
  const std::string& id = requireString(manifest, "client_instance_id");
  if (!isIdentifier(id)) fail("MISSING_CLIENT_IDENTITY");
  return id;
}

bool isApplied(const std::string& status) { return status == "applied" || status == "applied_analytics_pending"; }

NativeSpool::NativeSpool(const ConnectionSettings& s, const std::string& outboxDir, StopPredicate stopPredicate,
                         LogSink logSink)
    : settings(s), outbox_dir(outboxDir), spool_dir(outboxDir + "\\native-sync"),
      stop_predicate_(std::move(stopPredicate)), log_sink_(std::move(logSink)) {}

NativeSpool::~NativeSpool() {
  if (writer_lock_ && writer_lock_ != INVALID_HANDLE_VALUE) fileApi().closeHandle(writer_lock_);
}

std::unique_ptr<NativeSpool> NativeSpool::open(const ConnectionSettings& settings, const std::string& outboxDir,
                                               StopPredicate stopPredicate, LogSink logSink) {
  std::unique_ptr<NativeSpool> spool(
      new NativeSpool(settings, outboxDir, std::move(stopPredicate), std::move(logSink)));
  spool->bind();  // on a throw the unique_ptr closes the writer lock
  return spool;
}

void NativeSpool::bind() {
  settings.validate();
  requirePathKind(outbox_dir, true);
  if (pathExists(outbox_dir + "\\.delivery-binding")) fail("LEGACY_DELIVERY_MAPPING_REQUIRES_RECONCILIATION");
  ensureDirectory(spool_dir);

  HANDLE lock = fileApi().createFileA(path("writer.lock").c_str(), GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL);
  if (lock == INVALID_HANDLE_VALUE) fail("SPOOL_IN_USE");
  writer_lock_ = lock;

  const std::string manifestPath = path("manifest.json");
  const nlohmann::json binding = settings.bindingDocument();
  if (pathExists(manifestPath)) {
    client_instance_id = verifyManifest(readManifest(spool_dir), binding);
  } else {
    // A spool that has content but lost its manifest is never re-bound.
    if (!listFiles(spool_dir, "*.json").empty()) fail("MISSING_MANIFEST");
    client_instance_id = newIdentifier();
    const nlohmann::json manifest = {
        {"schema_version", 1}, {"binding", binding}, {"client_instance_id", client_instance_id}};
    writeImmutable(manifestPath, compactJson(manifest));
    replaceFile(path("high-water.json"), compactJson(nlohmann::json{{"sequence", 0}}));
  }
  writeImmutable(path("mapping.json"), mappingText(settings));

  loadJournal(*this);
  log("Local journal: " + statusSummary(*this), false);
}

std::unique_ptr<NativeSpool> NativeSpool::inspect(const ConnectionSettings& settings, const std::string& outboxDir,
                                                  const LoadFailureSink& onFailure) {
  std::unique_ptr<NativeSpool> spool(new NativeSpool(settings, outboxDir, {}, {}));
  NativeSpool& s = *spool;
  const auto check = [&](const std::string& name, const std::function<void()>& checks) {
    try {
      checks();
    } catch (const std::exception& e) {
      onFailure(name, e.what());
    }
  };
  requirePathKind(s.spool_dir, true);
  if (pathExists(s.path("manifest.json"))) {
    check("manifest.json", [&] {
      s.client_instance_id = verifyManifest(readManifest(s.spool_dir), settings.bindingDocument());
    });
  } else if (!listFiles(s.spool_dir, "*.json").empty()) {
    onFailure("manifest.json", "MISSING_MANIFEST");
  }
  if (pathExists(s.path("mapping.json"))) {
    // What writeImmutable would find when the next open writes the mapping.
    check("mapping.json", [&] {
      if (readJournalFile(s.path("mapping.json"), kSmallFileLimit) != mappingText(settings)) {
        fail("IMMUTABLE_FILE_CONFLICT");
      }
    });
  }
  inspectJournal(s, onFailure);
  return spool;
}

void NativeSpool::checkStop() const {
  if (stopRequested()) fail("SYNC_STOPPED");
}

void NativeSpool::refreshSize() {
  const std::uint64_t now = clock().tickMs();
  if (size_checked_at == 0 || now - size_checked_at >= kSizeCacheMs) {
    spool_size = directorySize(spool_dir);
    size_checked_at = now == 0 ? 1 : now;
  }
}

void NativeSpool::reserveSpace(std::uint64_t bytes) {
  refreshSize();
  if (spool_size + bytes + kBudgetHeadroom >= settings.maximum_state_mb * kMiB) fail("STATE_DISK_LIMIT");
  spool_size += bytes;
}

std::string NativeSpool::batchBody(std::uint64_t first, std::uint64_t count) const {
  nlohmann::json list = nlohmann::json::array();
  for (std::uint64_t i = first; i < first + count; ++i) list.push_back(executions.at(i).execution);
  nlohmann::json body;
  body["account_id"] = settings.account_id;
  body["executions"] = std::move(list);
  if (settings.native_instrument_protocol) {
    body["protocol"] = 1;
    body["source"] = {{"account", settings.source_account},
                      {"replay", settings.replay},
                      {"session_id", settings.session_id},
                      {"simulation", settings.simulation},
                      {"symbol", settings.source_symbol}};
  } else {
    body["mode"] = "append";
    body["schema_version"] = 3;
  }
  return compactJson(body);
}

void NativeSpool::log(const std::string& text, bool isError) const { logTo(log_sink_, text, isError); }

std::string statusSummary(const NativeSpool& spool) {
  std::uint64_t applied = 0;
  for (const BatchEntry& batch : spool.batches) {
    if (isApplied(batch.status)) applied += batch.count;
  }
  std::size_t pendingNotes = 0;
  for (const NoteEntry& note : spool.notes) {
    if (!note.confirmed) ++pendingNotes;
  }
  std::string text = "Captured " + std::to_string(spool.executions.size()) + "; applied " +
                     std::to_string(applied) + "; pending notes " + std::to_string(pendingNotes);
  if (!spool.note_detail.empty()) text += "; " + spool.note_detail;
  if (!spool.batch_detail.empty()) text += "; " + spool.batch_detail;
  if (spool.notes_need_attention) text += "; OPTIONAL_METADATA_RETAINED_NEEDS_ATTENTION";
  return text;
}

}  // namespace qbsync
