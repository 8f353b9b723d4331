#include "journal_service.h"

#include "wire_checks.h"

#include <regex>
#include <set>

namespace qbpeer {

using nlohmann::json;

namespace {

constexpr const char* kAccountsPath = "/api/v2/journal/accounts";
constexpr const char* kSierraPath = "/api/sierrachart-sync/";
constexpr const char* kSierraAliasPath = "/tradeapi/sierrachart-sync/";
constexpr const char* kBatchesPath = "/api/v2/journal/execution-batches";
constexpr const char* kImportsPrefix = "/api/v2/journal/execution-imports/";
constexpr const char* kNotesPath = "/api/v2/journal/notes";
constexpr size_t kBatchLimit = 1048576;
constexpr size_t kNoteLimit = 65536;
constexpr size_t kMaxExecutions = 500;

enum class Kind { accounts, readiness, native_batch, batch, import_status, note };

bool isInteger(const json& v) { return v.is_number_integer() || v.is_number_unsigned(); }

// Exactly these members: a missing one is named, an extra one is named.
void requireMembers(const json& obj, const std::set<std::string>& names, const std::string& prefix,
                    const std::string& code) {
  if (!obj.is_object()) throw Refusal(422, code, prefix.empty() ? "body" : prefix.substr(0, prefix.size() - 1));
  for (const auto& n : names)
    if (!obj.contains(n)) throw Refusal(422, code, prefix.empty() ? n : prefix + n);
  for (const auto& [k, v] : obj.items())
    if (!names.count(k)) throw Refusal(422, code, prefix.empty() ? "body" : prefix + k);
}

void requireStrings(const json& obj, const std::vector<std::string>& names, const std::string& prefix) {
  for (const auto& n : names)
    if (!obj[n].is_string()) throw Refusal(422, "INVALID_FIELDS", prefix + n);
}

const std::string& text(const json& obj, const char* key) { return obj[key].get_ref<const std::string&>(); }

// Checks common to both execution shapes; returns the sequence.
unsigned long long checkExecutionCore(const json& e, const std::string& p) {
  static const std::regex idPattern("sc-[0-9a-f]{64}");
  if (!std::regex_match(text(e, "source_execution_id"), idPattern))
    throw Refusal(422, "INVALID_SOURCE_EXECUTION_ID", p + "source_execution_id");
  unsigned long long seq = 0;
  if (!parseSequence(text(e, "source_sequence"), seq)) throw Refusal(422, "INVALID_SOURCE_SEQUENCE", p + "source_sequence");
  if (!isUtcMicros(text(e, "executed_at"))) throw Refusal(422, "INVALID_TIMESTAMP", p + "executed_at");
  const std::string& side = text(e, "side");
  if (side != "buy" && side != "sell") throw Refusal(422, "INVALID_SIDE", p + "side");
  const std::string& qty = text(e, "quantity");
  if (!isNormalDecimal(qty) || qty == "0" || qty[0] == '-') throw Refusal(422, "INVALID_DECIMAL", p + "quantity");
  return seq;
}

void checkJournalExecution(const json& e, const std::string& p) {
  requireMembers(e,
                 {"base_commission", "base_fees", "executed_at", "instrument", "native_currency", "native_price",
                  "quantity", "side", "source_execution_id", "source_sequence"},
                 p, "INVALID_FIELDS");
  requireStrings(e, {"base_commission", "base_fees", "executed_at", "native_currency", "native_price", "quantity",
                     "side", "source_execution_id", "source_sequence"},
                 p);
  checkExecutionCore(e, p);
  const json& inst = e["instrument"];
  requireMembers(inst, {"asset_type", "symbol"}, p + "instrument.", "INVALID_FIELDS");
  requireStrings(inst, {"asset_type", "symbol"}, p + "instrument.");
  const std::string& type = text(inst, "asset_type");
  if (type != "future" && type != "stock") throw Refusal(422, "UNSUPPORTED_JOURNAL_INSTRUMENT", p + "instrument.asset_type");
  if (text(inst, "symbol").empty() || text(inst, "symbol").size() > 128)
    throw Refusal(422, "INVALID_FIELDS", p + "instrument.symbol");
  if (type == "future" && text(e, "quantity").find('.') != std::string::npos)
    throw Refusal(422, "INVALID_FUTURES_QUANTITY", p + "quantity");
  const std::string& price = text(e, "native_price");
  if (!isNormalDecimal(price) || (type == "stock" && (price == "0" || price[0] == '-')))
    throw Refusal(422, "INVALID_DECIMAL", p + "native_price");
  static const std::regex currency("[A-Z]{3}");
  if (!std::regex_match(text(e, "native_currency"), currency))
    throw Refusal(422, "UNSUPPORTED_CURRENCY", p + "native_currency");
  for (const char* cost : {"base_commission", "base_fees"})
    if (!isNormalDecimal(text(e, cost)) || text(e, cost)[0] == '-') throw Refusal(422, "INVALID_DECIMAL", p + cost);
}

void checkNativeExecution(const json& e, const std::string& p, const std::string& symbol) {
  requireMembers(e,
                 {"commission", "executed_at", "fees", "instrument", "price", "quantity", "side", "source_execution_id",
                  "source_sequence"},
                 p, "INVALID_FIELDS");
  requireStrings(e, {"commission", "executed_at", "fees", "price", "quantity", "side", "source_execution_id",
                     "source_sequence"},
                 p);
  checkExecutionCore(e, p);
  if (!isNormalDecimal(text(e, "price"))) throw Refusal(422, "INVALID_DECIMAL", p + "price");
  for (const char* cost : {"commission", "fees"})
    if (text(e, cost) != "0") throw Refusal(422, "INVALID_DECIMAL", p + cost);
  const json& inst = e["instrument"];
  if (!inst.is_object() || inst.dump().size() > 8192) throw Refusal(422, "INVALID_INSTRUMENT_METADATA", p + "instrument");
  if (!inst.contains("source_symbol") || !inst["source_symbol"].is_string() || text(inst, "source_symbol") != symbol)
    throw Refusal(422, "SOURCE_SYMBOL_MISMATCH", p + "instrument");
}

// Executions array: count, each execution, consecutive sequences, unique ids.
void checkExecutions(const json& executions, bool native, const std::string& symbol) {
  if (!executions.is_array() || executions.empty() || executions.size() > kMaxExecutions)
    throw Refusal(422, "INVALID_EXECUTION_COUNT", "executions");
  std::set<std::string> ids;
  unsigned long long first = 0;
  for (size_t i = 0; i < executions.size(); ++i) {
    const std::string p = "executions[" + std::to_string(i) + "].";
    const json& e = executions[i];
    if (native)
      checkNativeExecution(e, p, symbol);
    else
      checkJournalExecution(e, p);
    unsigned long long seq = 0;
    parseSequence(text(e, "source_sequence"), seq);
    if (i == 0) first = seq;
    if (seq != first + i) throw Refusal(422, "INVALID_SOURCE_SEQUENCE", p + "source_sequence");
    if (!ids.insert(text(e, "source_execution_id")).second)
      throw Refusal(422, "DUPLICATE_SOURCE_EXECUTION_ID", p + "source_execution_id");
  }
}

}  // namespace

std::string errorBody(const std::string& code, const std::string& field) {
  return json{{"error", {{"code", code}, {"field", field}}}}.dump();
}

struct JournalService::Context {
  const WireRequest& request;
  Kind kind{};
  std::string path;  // with the alias resolved
  const PeerUser* user = nullptr;
  std::string client_instance;
  std::string account_header;  // empty when absent
  std::string key;
};

JournalService::JournalService(PeerConfig config, PeerStore& store) : config_(std::move(config)), store_(store) {}

Outcome JournalService::handle(const WireRequest& request) {
  Outcome out;
  Context ctx{request, Kind::accounts, "", nullptr, "", "", ""};
  std::lock_guard<std::mutex> lock(mutex_);
  try {
    out.answer = dispatch(ctx);
    out.replay = false;
  } catch (const Refusal& r) {
    out.answer = WireAnswer{r.status, errorBody(r.code, r.field)};
    out.error_code = r.code;
    if (r.status == 409) store_.count("conflicts");
  }
  if (ctx.user) out.user = ctx.user->email;
  if (out.answer.status == -1) {  // marker for a replay, see dispatch
    out.replay = true;
    const auto& kept = keys_.at({ctx.user->email, ctx.key});
    out.answer = kept.answer;
    store_.count("replays");
  }
  return out;
}

WireAnswer JournalService::dispatch(Context& ctx) {
  const WireRequest& rq = ctx.request;
  // Headers that must appear at most once; returns empty when absent.
  auto single = [&](const std::string& name, bool* present = nullptr) -> std::string {
    const auto n = rq.headers.count(name);
    if (present) *present = n > 0;
    if (n > 1) throw Refusal(400, "INVALID_REQUEST");
    return n ? rq.headers.find(name)->second : std::string();
  };

  // Credentials first: nothing is revealed to an unknown caller.
  const std::string auth = single("authorization");
  std::string decoded;
  if (auth.rfind("Basic ", 0) != 0 || !base64Decode(auth.substr(6), decoded)) throw Refusal(401, "NOT_AUTHORIZED");
  const auto colon = decoded.find(':');
  if (colon == std::string::npos) throw Refusal(401, "NOT_AUTHORIZED");
  const PeerUser* user = config_.findUser(decoded.substr(0, colon));
  if (!user || user->secret != decoded.substr(colon + 1)) throw Refusal(401, "NOT_AUTHORIZED");
  ctx.user = user;

  ctx.path = rq.path == kSierraAliasPath ? kSierraPath : rq.path;
  const bool get = rq.method == "GET";
  const bool post = rq.method == "POST";
  auto needPost = [&] {
    if (get) throw Refusal(405, "POST_REQUIRED");
    if (!post) throw Refusal(405, "INVALID_REQUEST");
  };
  auto needGet = [&] {
    if (!get) throw Refusal(405, "INVALID_REQUEST");
  };
  if (ctx.path == kAccountsPath) { needPost(); ctx.kind = Kind::accounts; }
  else if (ctx.path == kSierraPath) {
    if (get) ctx.kind = Kind::readiness;
    else { needPost(); ctx.kind = Kind::native_batch; }
  }
  else if (ctx.path == kBatchesPath) { needPost(); ctx.kind = Kind::batch; }
  else if (ctx.path.rfind(kImportsPrefix, 0) == 0) { needGet(); ctx.kind = Kind::import_status; }
  else if (ctx.path == kNotesPath) { needPost(); ctx.kind = Kind::note; }
  else throw Refusal(404, "NOT_FOUND");

  if (rq.has_query) throw Refusal(400, "INVALID_REQUEST");
  if (single("user-agent") != "Quorbelle-Sierra/1.0") throw Refusal(400, "INVALID_REQUEST");
  if (single("accept") != "application/json") throw Refusal(400, "INVALID_REQUEST");
  if (single("x-quorbelle-connector") != "sierrachart") throw Refusal(400, "INVALID_SYNC_CONNECTOR", "connector");
  ctx.client_instance = single("x-quorbelle-client-instance");
  if (!isIdentifier(ctx.client_instance)) throw Refusal(400, "INVALID_SYNC_IDENTITY", "client_instance_id");
  bool hasAccount = false;
  ctx.account_header = single("x-quorbelle-account", &hasAccount);
  if (hasAccount) {
    if (!isIdentifier(ctx.account_header)) throw Refusal(400, "INVALID_ACCOUNT_ID", "account_id");
    if (!user->find(ctx.account_header)) throw Refusal(404, "ACCOUNT_NOT_FOUND", "account_id");
  }
  bool hasType = false;
  const std::string type = single("content-type", &hasType);
  if (post && type != "application/json") throw Refusal(415, "JSON_REQUIRED", "body");
  if (get && hasType) throw Refusal(400, "INVALID_REQUEST");
  if (get && !rq.body.empty()) throw Refusal(400, "INVALID_REQUEST", "body");
  bool hasKey = false;
  ctx.key = single("idempotency-key", &hasKey);
  const bool keyed = ctx.kind == Kind::batch || ctx.kind == Kind::native_batch || ctx.kind == Kind::note;
  if (keyed && !isIdentifier(ctx.key)) throw Refusal(400, "INVALID_IDEMPOTENCY_KEY");
  if (!keyed && hasKey) throw Refusal(400, "INVALID_REQUEST");

  const std::string hash = sha256Hex(rq.body);
  if (keyed) {
    const auto it = keys_.find({user->email, ctx.key});
    if (it != keys_.end()) {
      if (it->second.method != rq.method || it->second.path != ctx.path || it->second.body_sha256 != hash)
        throw Refusal(409, "IDEMPOTENCY_CONFLICT");
      return WireAnswer{-1, "", ""};  // handle() substitutes the kept answer
    }
  }

  WireAnswer answer;
  switch (ctx.kind) {
    case Kind::accounts: answer = accounts(ctx); break;
    case Kind::readiness: answer = readiness(ctx); break;
    case Kind::batch: answer = journalBatch(ctx); break;
    case Kind::native_batch: answer = nativeBatch(ctx); break;
    case Kind::import_status: answer = importStatus(ctx, ctx.path.substr(std::string(kImportsPrefix).size())); break;
    case Kind::note: answer = note(ctx); break;
  }
  if (keyed && answer.status >= 200 && answer.status < 300)
    keys_[{user->email, ctx.key}] = KeptAnswer{rq.method, ctx.path, hash, answer};
  return answer;
}

WireAnswer JournalService::accounts(Context& ctx) {
  if (ctx.request.body != "{}") throw Refusal(400, "INVALID_BODY_SIZE", "body");
  json list = json::array();
  for (const auto& a : ctx.user->accounts) list.push_back({{"account_id", a.account_id}, {"name", a.name}});
  return WireAnswer{200, json{{"accounts", list}}.dump()};
}

WireAnswer JournalService::readiness(Context& ctx) {
  json doc{{"connector", "sierrachart"}, {"protocol", 1}};
  if (ctx.account_header.empty()) {
    doc["account_id"] = nullptr;
    doc["status"] = "eligible";
  } else {
    if (!ctx.user->find(ctx.account_header)->connector_ready) throw Refusal(403, "SIERRA_SYNC_DISABLED");
    doc["account_id"] = ctx.account_header;
    doc["status"] = "ready";
  }
  return WireAnswer{200, doc.dump()};
}

namespace {
json parseBody(const std::string& body, size_t limit) {
  if (body.empty()) throw Refusal(400, "INVALID_BODY_SIZE", "body");
  if (body.size() > limit) throw Refusal(413, "BODY_LIMIT", "body");
  return parseCanonical(body);
}

void checkAccountMember(const json& doc, const std::string& header) {
  if (!doc["account_id"].is_string() || !isIdentifier(text(doc, "account_id")))
    throw Refusal(422, "INVALID_ACCOUNT_ID", "account_id");
  if (header.empty()) throw Refusal(400, "INVALID_ACCOUNT_ID", "account_id");
  if (text(doc, "account_id") != header) throw Refusal(422, "ACCOUNT_MISMATCH", "account_id");
}
}  // namespace

bool JournalService::applyToStream(const std::string& stream_key, const std::string& account_id,
                                   const json& executions, const json& line_template) {
  Stream& stream = streams_[stream_key];
  auto& ids = execution_ids_[account_id];
  unsigned long long first = 0;
  parseSequence(text(executions[0], "source_sequence"), first);
  const unsigned long long next = stream.stored.size() + 1;
  if (first > next) return false;
  // All checks before anything is stored: a batch is applied whole or not at all.
  long long duplicates = 0;
  for (size_t i = 0; i < executions.size(); ++i) {
    const unsigned long long seq = first + i;
    const std::string compact = executions[i].dump();
    const std::string p = "executions[" + std::to_string(i) + "].";
    if (seq < next) {
      if (stream.stored[seq - 1] != compact) throw Refusal(409, "SOURCE_SEQUENCE_CONFLICT", p + "source_sequence");
      ++duplicates;
      continue;
    }
    if (ids.count(text(executions[i], "source_execution_id")))
      throw Refusal(409, "SOURCE_EXECUTION_CONFLICT", p + "source_execution_id");
  }
  for (size_t i = 0; i < executions.size(); ++i) {
    const unsigned long long seq = first + i;
    if (seq < next) continue;
    json line = line_template;
    line["execution"] = executions[i];
    line["sequence"] = seq;
    store_.appendLine("executions/" + account_id + ".jsonl", line);
    stream.stored.push_back(executions[i].dump());
    ids[text(executions[i], "source_execution_id")] = {stream_key, seq};
    store_.count("executions_stored");
  }
  store_.count("duplicate_executions", duplicates);
  return true;
}

json JournalService::journalReceipt(const std::string& id, const Operation& op) const {
  json r{{"account_id", op.account_id}, {"operation_id", id},          {"projection_only", false},
         {"record_count", op.record_count}, {"target", "journal"}};
  if (op.waiting_for_sequence) {
    r["status"] = "waiting_for_sequence";
    r["application_error"] = {{"code", "SOURCE_SEQUENCE_GAP"}};
    return r;
  }
  const int needed = config_.polls_until_applied;
  if (needed == 0 || op.polls >= needed) {
    r["status"] = "applied";
    r["data_version"] = op.data_version;
  } else {
    r["status"] = op.polls == 0 ? "accepted" : "processing";
  }
  return r;
}

WireAnswer JournalService::journalBatch(Context& ctx) {
  const json doc = parseBody(ctx.request.body, kBatchLimit);
  requireMembers(doc, {"account_id", "executions", "mode", "schema_version"}, "", "INVALID_FIELDS");
  if (!isInteger(doc["schema_version"]) || doc["schema_version"].get<long long>() != 3)
    throw Refusal(422, "UNSUPPORTED_SCHEMA_VERSION", "schema_version");
  if (doc["mode"] != "append") throw Refusal(422, "UNSUPPORTED_MODE", "mode");
  checkAccountMember(doc, ctx.account_header);
  checkExecutions(doc["executions"], false, "");

  const std::string account = text(doc, "account_id");
  const std::string id = newIdentifier();
  json line{{"client_instance", ctx.client_instance}, {"mode", "journal"}, {"operation_id", id}, {"source", nullptr}};
  Operation op;
  op.email = ctx.user->email;
  op.account_id = account;
  op.record_count = static_cast<long long>(doc["executions"].size());
  op.waiting_for_sequence = !applyToStream("journal|" + account + "|" + ctx.client_instance, account, doc["executions"], line);
  if (!op.waiting_for_sequence) {
    op.data_version = ++data_versions_[account];
    store_.count("applied_batches");
  }
  operations_[id] = op;
  return WireAnswer{202, journalReceipt(id, op).dump()};
}

WireAnswer JournalService::nativeBatch(Context& ctx) {
  const json doc = parseBody(ctx.request.body, kBatchLimit);
  requireMembers(doc, {"account_id", "executions", "protocol", "source"}, "", "INVALID_FIELDS");
  if (!isInteger(doc["protocol"]) || doc["protocol"].get<long long>() != 1)
    throw Refusal(422, "UNSUPPORTED_PROTOCOL", "protocol");
  checkAccountMember(doc, ctx.account_header);
  const json& source = doc["source"];
  requireMembers(source, {"account", "replay", "session_id", "simulation", "symbol"}, "source.", "INVALID_SOURCE");
  if (!source["account"].is_string() || !source["symbol"].is_string() || !source["session_id"].is_string() ||
      !source["replay"].is_boolean() || !source["simulation"].is_boolean() || text(source, "account").empty() ||
      text(source, "symbol").empty() || text(source, "session_id").empty() || text(source, "session_id").size() > 128)
    throw Refusal(422, "INVALID_SOURCE", "source");
  if (source["replay"].get<bool>() && !source["simulation"].get<bool>())
    throw Refusal(422, "REPLAY_REQUIRES_SIMULATION", "source");
  checkExecutions(doc["executions"], true, text(source, "symbol"));

  const std::string account = text(doc, "account_id");
  const std::string id = newIdentifier();
  json line{{"client_instance", ctx.client_instance}, {"mode", "native"}, {"operation_id", id}, {"source", source}};
  if (!applyToStream("native|" + account + "|" + source.dump(), account, doc["executions"], line))
    throw Refusal(409, "SOURCE_SEQUENCE_GAP", "executions[0].source_sequence");
  ++data_versions_[account];
  store_.count("applied_batches");
  Operation op;
  op.email = ctx.user->email;
  op.account_id = account;
  op.record_count = static_cast<long long>(doc["executions"].size());
  operations_[id] = op;
  const json receipt{{"account_id", account},
                     {"operation_id", id},
                     {"protocol", 1},
                     {"record_count", op.record_count},
                     {"request_sha256", sha256Hex(ctx.request.body)},
                     {"status", "applied"}};
  return WireAnswer{200, receipt.dump()};
}

WireAnswer JournalService::importStatus(Context& ctx, const std::string& operation_id) {
  const auto it = operations_.find(operation_id);
  if (!isIdentifier(operation_id) || it == operations_.end() || it->second.email != ctx.user->email ||
      (!ctx.account_header.empty() && ctx.account_header != it->second.account_id))
    throw Refusal(404, "NOT_FOUND");
  store_.count("status_polls");
  ++it->second.polls;
  return WireAnswer{200, journalReceipt(operation_id, it->second).dump()};
}

WireAnswer JournalService::note(Context& ctx) {
  const json doc = parseBody(ctx.request.body, kNoteLimit);
  requireMembers(doc, {"schema_version", "target", "text", "title"}, "", "INVALID_ANNOTATION_BODY");
  if (!isInteger(doc["schema_version"]) || doc["schema_version"].get<long long>() != 2)
    throw Refusal(422, "UNSUPPORTED_SCHEMA_VERSION", "schema_version");
  const json& target = doc["target"];
  requireMembers(target, {"date", "type"}, "target.", "INVALID_ANNOTATION_BODY");
  if (target["type"] != "day") throw Refusal(422, "INVALID_ANNOTATION_BODY", "target.type");
  if (!target["date"].is_string() || !isDay(text(target, "date")))
    throw Refusal(422, "INVALID_ANNOTATION_BODY", "target.date");
  if (!doc["title"].is_string() || text(doc, "title").empty()) throw Refusal(422, "INVALID_ANNOTATION_BODY", "title");
  if (!doc["text"].is_string() || text(doc, "text").empty()) throw Refusal(422, "INVALID_ANNOTATION_BODY", "text");

  const std::string id = newIdentifier();
  const std::string ref = "note-" + std::to_string(++note_count_);
  store_.appendLine("notes/" + text(target, "date") + ".jsonl",
                    json{{"account_id", ctx.account_header.empty() ? json(nullptr) : json(ctx.account_header)},
                         {"client_instance", ctx.client_instance},
                         {"idempotency_key", ctx.key},
                         {"note", doc},
                         {"note_ref", ref},
                         {"operation_id", id}});
  store_.count("notes_stored");
  const json receipt{{"account_id", nullptr}, {"action", "notes.save"}, {"changed", 1},
                     {"note_ref", ref},       {"operation_id", id},     {"schema_version", 2},
                     {"status", "applied"},   {"target", target}};
  return WireAnswer{200, receipt.dump()};
}

}  // namespace qbpeer
