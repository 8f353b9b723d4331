#include "inspect.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include "collector/collector_state.h"
#include "service/json_object.h"
#include "settings/connection_settings.h"
#include "settings/saved_state.h"
#include "settings/settings_file.h"
#include "storage/durable_file.h"
#include "storage/file_api.h"
#include "support/sha256.h"
#include "sync/native_spool.h"
#include "sync/outbox_record.h"
#include "sync/record_fields.h"
#include "sync/record_validation.h"

namespace qbinspect {
namespace {

using nlohmann::json;
using qbsync::fullMatch;

constexpr std::size_t kSideFileLimit = 65536;

struct Entry {
  std::string name;
  bool directory = false;
};

// One level of a directory, files and folders, sorted by name.
std::vector<Entry> listEntries(const std::string& dir) {
  std::vector<Entry> entries;
  WIN32_FIND_DATAA data;
  HANDLE find = qbsync::fileApi().findFirstFileA((dir + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return entries;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    entries.push_back({name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (qbsync::fileApi().findNextFileA(find, &data));
  qbsync::fileApi().findClose(find);
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return entries;
}

bool isDirectory(const std::string& path) {
  const DWORD attributes = qbsync::fileApi().getFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string baseName(const std::string& path) {
  const auto slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

json readSideFile(const std::string& path) {
  return qbsync::parseJsonObject(qbsync::readJournalFile(path, kSideFileLimit), kSideFileLimit);
}

// The spool's own names, apart from the ones the journal load lists itself.
bool isSpoolName(const std::string& name) {
  static const char* const patterns[] = {
      "writer\\.lock", "manifest\\.json", "mapping\\.json", "high-water\\.json",
      "e-[0-9]{20}\\.json", "o-[a-f0-9]{64}\\.json", "n-[a-f0-9]{64}\\.json(\\.receipt\\.json|\\.error\\.json)?",
      "b-[0-9]{20}\\.json(\\.receipt\\.json|\\.error\\.json)?"};
  for (const char* pattern : patterns) {
    if (fullMatch(name, pattern)) return true;
  }
  return false;
}

class ScopeInspector {
 public:
  ScopeInspector(std::string dir, std::string label, std::string syncRoot, const Options& options)
      : dir_(std::move(dir)), label_(std::move(label)), sync_root_(std::move(syncRoot)), options_(options) {}

  json run() {
    out_["path"] = label_;
    out_["problems"] = json::array();
    out_["notices"] = json::array();
    const std::vector<Entry> entries = listEntries(dir_);
    bool hasSpool = false;
    for (const Entry& e : entries) {
      if (e.directory) {
        if (e.name == "native-sync") {
          hasSpool = true;
        } else {
          problem(e.name, "foreign folder: not written by the collector or the sender");
        }
      } else {
        classifyOutboxFile(e.name);
      }
    }
    out_["spool"] = hasSpool;
    if (hasSpool) inspectSpool();
    inspectRecords();
    return out_;
  }

 private:
  void problem(const std::string& file, const std::string& reason) {
    out_["problems"].push_back({{"file", file}, {"reason", reason}});
  }
  void notice(const std::string& file, const std::string& text) {
    out_["notices"].push_back({{"file", file}, {"text", text}});
  }
  std::string spoolDir() const { return dir_ + "\\native-sync"; }

  void classifyOutboxFile(const std::string& name) {
    if (fullMatch(name, "[a-f0-9]{64}\\.json")) {
      records_.push_back(name);
    } else if (fullMatch(name, "[a-f0-9]{64}\\.capture")) {
      const std::string stem = name.substr(0, 64);
      if (!qbsync::pathExists(dir_ + "\\" + stem + ".json")) ++pending_captures_;
    } else if (fullMatch(name, "[a-f0-9]{64}\\.png") || name == "collector.lock") {
    } else if (endsWith(name, ".tmp")) {
      notice(name, "temporary file of an interrupted write; the next write of that file replaces it");
    } else if (name == ".delivery-binding") {
      problem(name, "LEGACY_DELIVERY_MAPPING_REQUIRES_RECONCILIATION");
    } else {
      problem(name, "foreign file: not written by the collector; the sender ignores it");
    }
  }

  // The settings the spool was bound with, from its manifest; the saved
  // settings file supplies what the binding does not hold when it is there.
  bool settingsFromManifest() {
    json manifest;
    try {
      manifest = qbsync::readManifest(spoolDir());
      const auto binding = manifest.find("binding");
      if (binding == manifest.end() || !binding->is_object()) throw std::runtime_error("SPOOL_BINDING_MISMATCH");
      settings_ = qbsync::fromSettingsDocument(*binding);
    } catch (const std::exception& e) {
      problem("native-sync\\manifest.json", e.what());
      return false;
    }
    // The binding holds the origin as the sender normalised it, loopback
    // origins included.
    settings_.allow_loopback_http = settings_.origin.rfind("http:", 0) == 0;
    settings_.allow_local_fill_ids = options_.allowLocalFillIds;
    const json& binding = manifest["binding"];
    out_["binding"] = binding;
    out_["mode"] = settings_.native_instrument_protocol ? "native" : "journal";

    const std::string scope = qbsync::sha256Hex(qbsync::sourceFragment(
        settings_.source_account, settings_.source_symbol, settings_.session_id, settings_.simulation,
        settings_.replay));
    const std::string folder = baseName(dir_);
    if (fullMatch(folder, "[a-f0-9]{64}") && folder != scope) {
      problem("native-sync\\manifest.json",
              "SOURCE_BINDING_MISMATCH: the manifest binds another source than this scope folder's");
    }
    readSavedSettings(binding);
    return true;
  }

  void readSavedSettings(const json& binding) {
    if (sync_root_.empty()) return;
    std::string path;
    try {
      path = sync_root_ + "\\settings\\" +
             qbsync::settingsFileKey(settings_.source_account, settings_.source_symbol, settings_.simulation,
                                     settings_.replay) +
             ".bin";
    } catch (const std::exception&) {
      return;
    }
    if (!qbsync::pathExists(path)) {
      out_["saved_settings"] = "absent";
      return;
    }
    try {
      json document = qbsync::loadSettingsFile(path);
      qbsync::zeroSecretIn(document);
      const auto member = document.find("settings");
      if (member == document.end()) throw std::runtime_error("SAVED_SETTINGS_INVALID");
      const qbsync::ConnectionSettings saved = qbsync::fromSettingsDocument(*member);
      const std::string outboxKey = qbsync::outboxScopeKey(saved);
      const std::string parent = dir_.substr(0, dir_.find_last_of('\\'));
      if (baseName(parent) != outboxKey) {
        out_["saved_settings"] = "an earlier destination (the saved settings now deliver elsewhere)";
      } else if (saved.bindingDocument() != binding) {
        out_["saved_settings"] = "current destination, changed instrument or cost settings";
        problem("native-sync\\manifest.json", "SPOOL_BINDING_MISMATCH: the saved settings no longer match it");
      } else {
        out_["saved_settings"] = "current destination";
        settings_.allow_local_fill_ids = saved.allow_local_fill_ids;
        settings_.sync_notes = saved.sync_notes;
      }
    } catch (const std::exception& e) {
      out_["saved_settings"] = std::string("unreadable: ") + e.what();
    }
  }

  void inspectSpool() {
    for (const Entry& e : listEntries(spoolDir())) {
      const std::string file = "native-sync\\" + e.name;
      if (e.directory) {
        problem(file, "foreign folder in the spool");
      } else if (endsWith(e.name, ".tmp")) {
        notice(file, "temporary file of an interrupted write; the next write of that file replaces it");
      } else if (!isSpoolName(e.name)) {
        const bool listed = fullMatch(e.name, "[eobn]-.*\\.json") && e.name.find(".receipt.") == std::string::npos;
        // Names the journal load lists are reported by it with its own code.
        if (!listed) problem(file, "foreign file: not written by the sender; the sender ignores it");
      } else if (endsWith(e.name, ".receipt.json") || endsWith(e.name, ".error.json")) {
        const std::string base = e.name.substr(0, e.name.find(".json") + 5);
        if (!qbsync::pathExists(spoolDir() + "\\" + base)) problem(file, "record of a request file that is missing");
      }
    }
    if (!qbsync::pathExists(spoolDir() + "\\manifest.json")) {
      if (qbsync::listFiles(spoolDir(), "*.json").empty()) {
        notice("native-sync", "empty spool: the next sender run binds it");
      } else {
        problem("native-sync\\manifest.json", "MISSING_MANIFEST");
      }
      return;
    }
    if (!settingsFromManifest()) return;
    try {
      spool_ = qbsync::NativeSpool::inspect(settings_, dir_, [this](const std::string& name,
                                                                   const std::string& reason) {
        problem("native-sync\\" + name, reason);
      });
    } catch (const std::exception& e) {
      problem("native-sync", e.what());
      return;
    }
    const qbsync::NativeSpool& spool = *spool_;
    std::uint64_t verified = 0;
    for (const qbsync::ExecutionEntry& entry : spool.executions) {
      if (!entry.execution.is_null()) ++verified;
    }
    json executions = {{"files", spool.executions.size()}, {"verified", verified}};
    try {
      const std::string highWater = spoolDir() + "\\high-water.json";
      if (qbsync::pathExists(highWater)) {
        executions["high_water"] =
            qbsync::parseJsonObject(qbsync::readJournalFile(highWater, qbsync::kSmallFileLimit),
                                    qbsync::kSmallFileLimit)
                .value("sequence", json());
      }
    } catch (const std::exception&) {
      // The journal load has reported it.
    }
    out_["executions"] = executions;
    out_["client_instance_id"] = spool.client_instance_id;
    inspectBatches(spool);
    inspectNotes(spool);
  }

  json errorRecord(const std::string& requestPath) {
    const std::string path = requestPath + ".error.json";
    if (!qbsync::pathExists(path)) return json();
    try {
      return readSideFile(path);
    } catch (const std::exception& e) {
      problem("native-sync\\" + baseName(path), e.what());
      return json();
    }
  }

  void inspectBatches(const qbsync::NativeSpool& spool) {
    json list = json::array();
    std::map<std::string, std::uint64_t> executionsBy;
    for (const qbsync::BatchEntry& batch : spool.batches) {
      json b = {{"file", baseName(batch.path)},
                {"first_sequence", batch.first + 1},
                {"last_sequence", batch.first + batch.count},
                {"count", batch.count},
                {"status", batch.status},
                {"request_key", batch.key}};
      if (!batch.operationId.empty()) b["operation_id"] = batch.operationId;
      const json error = errorRecord(batch.path);
      if (!error.is_null()) b["error"] = error;
      std::string state;
      if (qbsync::isApplied(batch.status)) {
        state = "applied";
      } else if (batch.status == "blocked" || batch.status == "rejected" || batch.status == "revoked") {
        state = "blocked";
      } else if (!error.is_null()) {
        state = "rejected";
      } else {
        state = "pending";
      }
      b["state"] = state;
      executionsBy[state] += batch.count;
      list.push_back(std::move(b));
    }
    json summary = json::object();
    for (const char* state : {"applied", "pending", "blocked", "rejected"}) summary[state] = executionsBy[state];
    out_["batches"] = list;
    out_["executions_by_batch_state"] = summary;
  }

  void inspectNotes(const qbsync::NativeSpool& spool) {
    std::uint64_t delivered = 0;
    json pending = json::array();
    for (const qbsync::NoteEntry& note : spool.notes) {
      if (note.confirmed) {
        ++delivered;
        continue;
      }
      json n = {{"file", baseName(note.path)}, {"request_key", note.key}};
      const json error = errorRecord(note.path);
      if (!error.is_null()) n["error"] = error;
      pending.push_back(std::move(n));
    }
    out_["notes"] = {{"delivered", delivered}, {"pending", pending.size()}, {"pending_notes", pending}};
  }

  void inspectRecords() {
    std::map<std::string, std::uint64_t> byKind;
    std::uint64_t taken = 0;
    std::uint64_t waiting = 0;
    const bool checked = spool_ != nullptr;
    qbsync::Sha256Provider digest;
    for (const std::string& name : records_) {
      try {
        const std::string bytes = qbsync::readJournalFile(dir_ + "\\" + name, qbsync::kOutboxRecordLimit);
        if (!checked) {
          const json record = qbsync::parseJsonObject(bytes, qbsync::kOutboxRecordLimit);
          const auto kind = record.find("kind");
          ++byKind[kind != record.end() && kind->is_string() ? kind->get<std::string>() : "unknown"];
          continue;
        }
        // What the intake does with the record, apart from taking it.
        const json record = qbsync::readOutboxRecord(settings_, bytes);
        const std::string& eventId = qbsync::requireString(record, "event_id");
        if (name != eventId + ".json") throw std::runtime_error("EVENT_FILENAME_MISMATCH");
        ++byKind[qbsync::requireString(record, "kind")];
        const auto marker = spool_->observations.find(eventId);
        if (marker != spool_->observations.end()) {
          if (marker->second != digest.sha256Hex(qbsync::compactJson(record))) {
            throw std::runtime_error("EVENT_ID_CONFLICT");
          }
          ++taken;
        } else {
          qbsync::recordOrder(settings_, digest, record);
          ++waiting;
        }
      } catch (const std::exception& e) {
        problem(name, e.what());
      }
    }
    json records = {{"files", records_.size()}, {"by_kind", byKind}, {"pending_captures", pending_captures_}};
    if (checked) {
      records["taken"] = taken;
      records["waiting"] = waiting;
    } else {
      records["checked"] = false;
    }
    out_["records"] = records;
  }

  const std::string dir_;
  const std::string label_;
  const std::string sync_root_;
  const Options options_;
  json out_;
  std::vector<std::string> records_;
  std::uint64_t pending_captures_ = 0;
  qbsync::ConnectionSettings settings_;
  std::unique_ptr<qbsync::NativeSpool> spool_;
};

std::string normalise(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}

}  // namespace

json inspect(const std::string& rawPath, const Options& options) {
  const std::string path = normalise(rawPath);
  json report = {{"root", path}, {"scopes", json::array()}, {"problems", json::array()}};
  std::string syncRoot;
  if (isDirectory(path + "\\QuorbelleSync\\outbox")) {
    syncRoot = path + "\\QuorbelleSync";
  } else if (isDirectory(path + "\\outbox")) {
    syncRoot = path;
  }
  if (!syncRoot.empty()) {
    report["root"] = syncRoot;
    const std::string outbox = syncRoot + "\\outbox";
    for (const Entry& destination : listEntries(outbox)) {
      if (!destination.directory || !fullMatch(destination.name, "[a-f0-9]{16}")) {
        report["problems"].push_back({{"file", "outbox\\" + destination.name},
                                      {"reason", "foreign entry: not a destination folder"}});
        continue;
      }
      for (const Entry& scope : listEntries(outbox + "\\" + destination.name)) {
        const std::string label = "outbox\\" + destination.name + "\\" + scope.name;
        if (!scope.directory || !fullMatch(scope.name, "[a-f0-9]{64}")) {
          report["problems"].push_back({{"file", label}, {"reason", "foreign entry: not a scope folder"}});
          continue;
        }
        report["scopes"].push_back(
            ScopeInspector(outbox + "\\" + destination.name + "\\" + scope.name, label, syncRoot, options).run());
      }
    }
  } else if (isDirectory(path) && (isDirectory(path + "\\native-sync") || fullMatch(baseName(path), "[a-f0-9]{64}"))) {
    report["scopes"].push_back(ScopeInspector(path, path, "", options).run());
  } else {
    throw std::runtime_error("Not a data folder, a QuorbelleSync folder or a scope outbox: " + path);
  }
  bool clean = report["problems"].empty();
  for (const json& scope : report["scopes"]) clean = clean && scope["problems"].empty();
  report["clean"] = clean;
  return report;
}

namespace {

std::string text(const json& value) { return value.is_string() ? value.get<std::string>() : value.dump(); }

std::string errorText(const json& error) {
  std::string out = "HTTP " + text(error.value("http_status", json(0)));
  if (error.contains("code")) out += " " + text(error["code"]);
  if (error.contains("field")) out += " at " + text(error["field"]);
  if (error.contains("request_id")) out += " request_id=" + text(error["request_id"]);
  return out;
}

}  // namespace

std::string renderText(const json& report) {
  std::string out = "Quorbelle Sync data under " + text(report["root"]) + " (inspected read-only)\n";
  std::size_t problems = report["problems"].size();
  for (const json& scope : report["scopes"]) {
    out += "\nScope " + text(scope["path"]) + "\n";
    if (scope.contains("binding")) {
      const json& b = scope["binding"];
      out += "  source: " + text(b.value("source_account", json(""))) + " " + text(b.value("source_symbol", json(""))) +
             ", session " + text(b.value("session_id", json(""))) + ", simulation " +
             text(b.value("simulation", json(false))) + ", replay " + text(b.value("replay", json(false))) + "\n";
      out += "  destination: " + text(b.value("origin", json(""))) + " " + text(b.value("email", json(""))) +
             " account " + text(b.value("account_id", json(""))) + " (" + text(scope["mode"]) + " mode)\n";
    }
    if (scope.contains("saved_settings")) out += "  saved settings: " + text(scope["saved_settings"]) + "\n";
    const json& r = scope["records"];
    out += "  records captured: " + text(r["files"]);
    std::string kinds;
    for (const auto& [kind, count] : r["by_kind"].items()) kinds += (kinds.empty() ? "" : ", ") + kind + " " + text(count);
    if (!kinds.empty()) out += " (" + kinds + ")";
    if (r.contains("taken")) out += "; taken " + text(r["taken"]) + ", waiting " + text(r["waiting"]);
    if (r.value("checked", true) == false) out += "; not checked (no readable spool manifest)";
    out += "; pending captures " + text(r["pending_captures"]) + "\n";
    if (!scope["spool"].get<bool>()) out += "  spool: none yet\n";
    if (scope.contains("executions")) {
      const json& e = scope["executions"];
      out += "  executions journaled: " + text(e["verified"]) + " verified of " + text(e["files"]);
      if (e.contains("high_water")) out += " (high-water " + text(e["high_water"]) + ")";
      out += "\n";
    }
    if (scope.contains("batches")) {
      const json& s = scope["executions_by_batch_state"];
      out += "  batches: " + std::to_string(scope["batches"].size()) + "; executions applied " + text(s["applied"]) +
             ", pending " + text(s["pending"]) + ", blocked " + text(s["blocked"]) + ", rejected " +
             text(s["rejected"]) + "\n";
      for (const json& b : scope["batches"]) {
        out += "    " + text(b["file"]) + " #" + text(b["first_sequence"]) + "-" + text(b["last_sequence"]) + " " +
               text(b["state"]) + " (" + text(b["status"]) + ") request=" + text(b["request_key"]);
        if (b.contains("operation_id")) out += " operation=" + text(b["operation_id"]);
        if (b.contains("error")) out += " error: " + errorText(b["error"]);
        out += "\n";
      }
    }
    if (scope.contains("notes")) {
      const json& n = scope["notes"];
      out += "  notes: delivered " + text(n["delivered"]) + ", pending " + text(n["pending"]) + "\n";
      for (const json& p : n["pending_notes"]) {
        out += "    " + text(p["file"]) + " pending request=" + text(p["request_key"]);
        if (p.contains("error")) out += " last error: " + errorText(p["error"]);
        out += "\n";
      }
    }
    for (const json& notice : scope["notices"]) out += "  note: " + text(notice["file"]) + ": " + text(notice["text"]) + "\n";
    for (const json& p : scope["problems"]) out += "  PROBLEM " + text(p["file"]) + ": " + text(p["reason"]) + "\n";
    problems += scope["problems"].size();
  }
  for (const json& p : report["problems"]) out += "PROBLEM " + text(p["file"]) + ": " + text(p["reason"]) + "\n";
  out += "\n" + std::to_string(report["scopes"].size()) + " scope(s), " + std::to_string(problems) +
         " problem(s)\n";
  return out;
}

}  // namespace qbinspect
