// Binds the journal service to loopback listeners (plain HTTP and, with a
// certificate, HTTPS), applies the fault script to each request and records
// every exchange. start() returns once both listeners accept connections;
// stop() may be called from any thread, once.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace qbpeer {

struct PeerOptions {
  std::string state_dir;
  int http_port = 0;   // 0: any free port
  int https_port = 0;  // 0: any free port (only with cert and key)
  std::string cert_file;
  std::string key_file;
  std::optional<int> polls_until_applied;  // overrides config.json
};

class PeerServer {
 public:
  // Loads the configuration from the state dir; throws std::runtime_error
  // naming the fault when it is malformed.
  explicit PeerServer(PeerOptions options);
  ~PeerServer();
  PeerServer(const PeerServer&) = delete;
  PeerServer& operator=(const PeerServer&) = delete;

  // Binds and starts serving. Throws std::runtime_error when a port cannot be
  // bound or the certificate cannot be loaded.
  void start();
  void stop();
  int httpPort() const { return http_port_; }
  int httpsPort() const { return https_port_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int http_port_ = 0;
  int https_port_ = 0;
};

}  // namespace qbpeer
