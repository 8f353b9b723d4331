#include "peer_server.h"

#include "fault_script.h"
#include "journal_service.h"
#include "peer_config.h"
#include "peer_store.h"
#include "wire_checks.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cctype>
#include <chrono>
#include <iostream>

namespace qbpeer {

using nlohmann::json;

namespace {

// Closes the connection a request arrived on without answering: finds the
// socket by its two ports and shuts it down, so the client sees the
// connection end before any byte of an answer.
void dropConnection(const httplib::Request& req) {
  DIR* d = opendir("/proc/self/fd");
  if (!d) return;
  while (dirent* e = readdir(d)) {
    const int fd = std::atoi(e->d_name);
    if (fd <= 2) continue;
    sockaddr_storage peer{}, local{};
    socklen_t pl = sizeof peer, ll = sizeof local;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &pl) != 0) continue;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &ll) != 0) continue;
    if (peer.ss_family != AF_INET || local.ss_family != AF_INET) continue;
    const int pport = ntohs(reinterpret_cast<sockaddr_in*>(&peer)->sin_port);
    const int lport = ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port);
    if (pport == req.remote_port && lport == req.local_port) shutdown(fd, SHUT_RDWR);
  }
  closedir(d);
}

bool hasAny(const json& action, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (action.contains(n)) return true;
  return false;
}

// Applies override / remove / repeat_key to a JSON object answer.
void reshapeBody(std::string& body, const json& action) {
  if (hasAny(action, {"override", "remove"})) {
    json doc;
    try {
      doc = json::parse(body);
    } catch (const json::exception&) {
      return;
    }
    if (!doc.is_object()) return;
    if (action.contains("override") && action["override"].is_object())
      for (const auto& [k, v] : action["override"].items()) doc[k] = v;
    if (action.contains("remove") && action["remove"].is_array())
      for (const auto& k : action["remove"])
        if (k.is_string()) doc.erase(k.get<std::string>());
    body = doc.dump();
  }
  if (action.contains("repeat_key")) {
    const json& rk = action["repeat_key"];
    std::string key;
    json value;
    bool haveValue = false;
    if (rk.is_string()) {
      key = rk.get<std::string>();
    } else if (rk.is_object() && rk.contains("key")) {
      key = rk["key"].get<std::string>();
      if (rk.contains("value")) { value = rk["value"]; haveValue = true; }
    }
    if (!haveValue) {
      try {
        const json doc = json::parse(body);
        if (doc.is_object() && doc.contains(key)) { value = doc[key]; haveValue = true; }
      } catch (const json::exception&) {
      }
    }
    const auto close = body.rfind('}');
    if (!key.empty() && haveValue && close != std::string::npos) {
      const bool empty = body.find_first_not_of(" {", 0) == close;
      body.insert(close, (empty ? "" : ",") + json(key).dump() + ":" + value.dump());
    }
  }
}

// The execution range a batch body names, as the client sent it: the first
// execution's source sequence and the number of executions, or null for any
// other body. Recorded whatever the answer, so a test can tell that every
// attempt at one range came with one key and one body.
json batchRange(const std::string& body) {
  const json parsed = json::parse(body, nullptr, false);
  if (!parsed.is_object()) return nullptr;
  const auto executions = parsed.find("executions");
  if (executions == parsed.end() || !executions->is_array() || executions->empty()) return nullptr;
  const json& first = (*executions)[0];
  if (!first.is_object() || !first.contains("source_sequence")) return nullptr;
  return json{{"count", executions->size()}, {"first_sequence", first["source_sequence"]}};
}

}  // namespace

struct PeerServer::Impl {
  explicit Impl(const PeerOptions& o)
      : options(o), store(o.state_dir), script(o.state_dir + "/script.json"), service(loadConfig(o), store) {}

  static PeerConfig loadConfig(const PeerOptions& o) {
    PeerConfig c = loadPeerConfig(o.state_dir);
    if (o.polls_until_applied) c.polls_until_applied = *o.polls_until_applied;
    return c;
  }

  void serve(const httplib::Request& req, httplib::Response& res) {
    WireRequest w;
    w.method = req.method;
    w.path = req.path;
    w.has_query = !req.params.empty() || req.target.find('?') != std::string::npos;
    for (const auto& [k, v] : req.headers) {
      std::string name = k;
      for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      // The server library adds these itself; they are not the client's.
      if (name == "remote_addr" || name == "remote_port" || name == "local_addr" || name == "local_port") continue;
      w.headers.emplace(name, v);
    }
    w.body = req.body;

    const auto fired = script.take(w.method, w.path);
    const json action = fired ? fired->action : json::object();
    const bool process =
        action.contains("process") ? action["process"].get<bool>()
                                   : !hasAny(action, {"status", "body", "error", "oversized_body"});
    Outcome out;
    if (process) out = service.handle(w);
    WireAnswer& a = out.answer;
    if (!process) a = WireAnswer{200, "", "application/json"};
    if (action.contains("status")) a.status = action["status"].get<int>();
    if (action.contains("error"))
      a.body = errorBody(action["error"].value("code", ""), action["error"].value("field", ""));
    if (action.contains("body")) a.body = action["body"].get<std::string>();
    if (action.contains("oversized_body")) {
      const long long n = action["oversized_body"].get<long long>();
      a.body = "{\"pad\":\"" + std::string(n > 10 ? static_cast<size_t>(n - 10) : 0, 'x') + "\"}";
    }
    if (action.contains("content_type")) a.content_type = action["content_type"].get<std::string>();
    reshapeBody(a.body, action);
    const bool drop = action.value("drop", false);

    auto header = [&](const char* name) {
      const auto it = w.headers.find(name);
      return it == w.headers.end() ? std::string() : it->second;
    };
    store.count("requests");
    if (fired) store.count("faults_applied");
    if (!out.error_code.empty()) store.count("refused");
    store.appendLine("requests.jsonl",
                     json{{"account", header("x-quorbelle-account")},
                          {"batch", batchRange(w.body)},
                          {"body_sha256", sha256Hex(w.body)},
                          {"body_size", w.body.size()},
                          {"client_instance", header("x-quorbelle-client-instance")},
                          {"error_code", out.error_code},
                          {"fault", fired ? json(fired->index) : json(nullptr)},
                          {"idempotency_key", header("idempotency-key")},
                          {"method", w.method},
                          {"path", w.path},
                          {"replay", out.replay},
                          {"status", drop ? 0 : a.status},
                          {"user", out.user}});
    store.writeStats();

    if (action.contains("delay_ms"))
      std::this_thread::sleep_for(std::chrono::milliseconds(action["delay_ms"].get<long long>()));
    if (drop) {
      dropConnection(req);
      res.status = 500;  // never reaches the client: the socket is shut down
      return;
    }
    res.status = a.status;
    if (!a.content_type.empty())
      res.set_content(a.body, a.content_type.c_str());
    else
      res.body = a.body;
    if (action.contains("request_id")) {
      const std::string id = action["request_id"].get<std::string>();
      if (!id.empty()) res.set_header("X-Quorbelle-Request-Id", id);
    } else {
      res.set_header("X-Quorbelle-Request-Id", newRequestId());
    }
    if (action.contains("retry_after")) {
      const json& ra = action["retry_after"];
      res.set_header("Retry-After", ra.is_string() ? ra.get<std::string>() : std::to_string(ra.get<long long>()));
    }
    if (action.contains("headers") && action["headers"].is_object())
      for (const auto& [k, v] : action["headers"].items()) res.set_header(k, v.get<std::string>());
  }

  void install(httplib::Server& server) {
    auto handler = [this](const httplib::Request& req, httplib::Response& res) {
      try {
        serve(req, res);
      } catch (const std::exception& e) {
        std::cerr << "qb-peer: " << req.method << " " << req.path << ": " << e.what() << std::endl;
        res.status = 500;
        res.set_content(errorBody("UNAVAILABLE", ""), "application/json");
      }
    };
    for (const char* pattern : {".*"}) {
      server.Get(pattern, handler);
      server.Post(pattern, handler);
      server.Put(pattern, handler);
      server.Delete(pattern, handler);
      server.Patch(pattern, handler);
      server.Options(pattern, handler);
    }
    // The service answers bodies above its limits itself, with its envelope.
    server.set_payload_max_length(8 * 1024 * 1024);
    // An answer goes out as headers and body in two writes; with Nagle's rule
    // the body waits for the client's delayed acknowledgement of the headers,
    // some 40 ms on loopback, a stall a real service's stack does not add.
    server.set_tcp_nodelay(true);
  }

  PeerOptions options;
  PeerStore store;
  FaultScript script;
  JournalService service;
  std::unique_ptr<httplib::Server> http;
  std::unique_ptr<httplib::SSLServer> https;
  std::thread http_thread, https_thread;
};

PeerServer::PeerServer(PeerOptions options) : impl_(std::make_unique<Impl>(options)) {}

PeerServer::~PeerServer() { stop(); }

namespace {
int bindServer(httplib::Server& server, int port, const char* what) {
  if (port == 0) {
    const int bound = server.bind_to_any_port("127.0.0.1");
    if (bound <= 0) throw std::runtime_error(std::string("cannot bind ") + what + " on 127.0.0.1");
    return bound;
  }
  if (!server.bind_to_port("127.0.0.1", port))
    throw std::runtime_error(std::string("cannot bind ") + what + " on 127.0.0.1:" + std::to_string(port));
  return port;
}

void waitRunning(httplib::Server& server) {
  for (int i = 0; i < 5000 && !server.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}
}  // namespace

void PeerServer::start() {
  impl_->http = std::make_unique<httplib::Server>();
  impl_->install(*impl_->http);
  http_port_ = bindServer(*impl_->http, impl_->options.http_port, "HTTP");
  if (!impl_->options.cert_file.empty()) {
    impl_->https = std::make_unique<httplib::SSLServer>(impl_->options.cert_file.c_str(), impl_->options.key_file.c_str());
    if (!impl_->https->is_valid()) throw std::runtime_error("cannot load certificate " + impl_->options.cert_file);
    impl_->install(*impl_->https);
    https_port_ = bindServer(*impl_->https, impl_->options.https_port, "HTTPS");
  }
  impl_->http_thread = std::thread([this] { impl_->http->listen_after_bind(); });
  waitRunning(*impl_->http);
  if (impl_->https) {
    impl_->https_thread = std::thread([this] { impl_->https->listen_after_bind(); });
    waitRunning(*impl_->https);
  }
}

void PeerServer::stop() {
  if (!impl_) return;
  if (impl_->http) impl_->http->stop();
  if (impl_->https) impl_->https->stop();
  if (impl_->http_thread.joinable()) impl_->http_thread.join();
  if (impl_->https_thread.joinable()) impl_->https_thread.join();
}

}  // namespace qbpeer
