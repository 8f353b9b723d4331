// qb-peer: the journal-service stand-in. See tools/peer/README.md.
#include "peer_server.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

namespace {

int usage(const char* why) {
  std::cerr << "qb-peer: " << why << "\n"
            << "usage: qb-peer --state DIR [--http-port N] [--https-port N] [--cert FILE --key FILE]"
               " [--polls N] [--no-stdin-watch]\n";
  return 2;
}

bool parsePort(const char* text, int& out) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < 0 || v > 65535) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  qbpeer::PeerOptions options;
  bool watchStdin = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (arg == "--state" && (v = value())) options.state_dir = v;
    else if (arg == "--http-port" && (v = value())) { if (!parsePort(v, options.http_port)) return usage("bad --http-port"); }
    else if (arg == "--https-port" && (v = value())) { if (!parsePort(v, options.https_port)) return usage("bad --https-port"); }
    else if (arg == "--cert" && (v = value())) options.cert_file = v;
    else if (arg == "--key" && (v = value())) options.key_file = v;
    else if (arg == "--polls" && (v = value())) {
      int polls = 0;
      if (!parsePort(v, polls)) return usage("bad --polls");
      options.polls_until_applied = polls;
    }
    else if (arg == "--no-stdin-watch") watchStdin = false;
    else return usage(("unexpected argument " + arg).c_str());
  }
  if (options.state_dir.empty()) return usage("--state is required");
  if (options.cert_file.empty() != options.key_file.empty()) return usage("--cert and --key go together");

  // Signals are taken by one waiting thread; every other thread blocks them.
  // A peer whose client vanished must not die of a write to a closed socket.
  signal(SIGPIPE, SIG_IGN);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGUSR1);  // sent to ourselves when stdin ends
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::unique_ptr<qbpeer::PeerServer> server;
  try {
    server = std::make_unique<qbpeer::PeerServer>(options);
  } catch (const std::exception& e) {
    std::cerr << "qb-peer: " << e.what() << std::endl;
    return 2;
  }
  try {
    server->start();
  } catch (const std::exception& e) {
    std::cerr << "qb-peer: " << e.what() << std::endl;
    return 3;
  }
  std::printf("QB_PEER_LISTENING http=%d https=%d\n", server->httpPort(), server->httpsPort());
  std::fflush(stdout);

  if (watchStdin) {
    // Dies with its parent: the parent holds the write end of our stdin.
    std::thread([] {
      char buf[256];
      while (true) {
        const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno != EINTR)) break;
      }
      kill(getpid(), SIGUSR1);
    }).detach();
  }
  int sig = 0;
  sigwait(&stopSignals, &sig);
  server->stop();
  std::cerr << "qb-peer: stopped (" << (sig == SIGUSR1 ? "stdin closed" : strsignal(sig)) << ")" << std::endl;
  return 0;
}
