// The per-study collector object: the scope it collects for, its exclusive
// lock on the scope outbox, and what the polls remember between calls.
#ifndef QB_COLLECTOR_COLLECTOR_STATE_H
#define QB_COLLECTOR_COLLECTOR_STATE_H

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "support/sha256.h"

namespace qbsync {

class CollectorState {
 public:
  // Creates the SHA-256 provider; throws its construction errors.
  CollectorState() = default;
  // Closes the collector lock when open.
  ~CollectorState();
  CollectorState(const CollectorState&) = delete;
  CollectorState& operator=(const CollectorState&) = delete;

  Sha256Provider digest;
  void* lockHandle = nullptr;  // HANDLE of collector.lock; null or INVALID when not held
  bool lockHeld() const;

  // The poll's scan of outboxDir into outboxSize. The state's first scan also
  // puts every file name into knownNames and sets knownNamesComplete. Throws
  // directorySize's texts.
  void scanOutbox();

  std::string scopeIdentity;    // source fragment + "|" + raw input 1 text
  std::string outboxDir;        // scope outbox directory
  std::string scopeDigest;      // sha256Hex of the source fragment
  std::string sourceFragment;   // ,"source_account":...,"replay":...
  std::string lastPauseMessage;
  std::string captureWarning;

  std::uint64_t outboxSize = 0;
  std::uint64_t budget = 0;
  std::uint64_t lastPollTickMs = 0;
  bool polledOnce = false;

  std::map<std::string, std::string> orderFragments;      // internal order id -> fragment
  std::set<std::string> knownNames;                       // record names known to exist
  // Set once the state's first directory scan put every file name into
  // knownNames: records are written only by this state (it holds the
  // collector lock), so from then on a name it does not know is not on disk.
  bool knownNamesComplete = false;
  std::map<std::string, std::uint64_t> captureSizes;      // capture id -> PNG size last poll
};

// The JSON text of the source scope, written into every record:
// ,"source_account":A,"source_symbol":S,"session_id":I,"simulation":B,"replay":B
std::string sourceFragment(const std::string& account, const std::string& symbol,
                           const std::string& sessionId, bool simulation, bool replay);

}  // namespace qbsync

#endif
