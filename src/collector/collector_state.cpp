#include "collector/collector_state.h"

#include <windows.h>

#include "collector/collector_lock.h"
#include "collector/json_quote.h"
#include "storage/durable_file.h"

namespace qbsync {

CollectorState::~CollectorState() { closeCollectorLock(*this); }

bool CollectorState::lockHeld() const { return lockHandle != nullptr && lockHandle != INVALID_HANDLE_VALUE; }

void CollectorState::scanOutbox() {
  if (knownNamesComplete) {
    outboxSize = directorySize(outboxDir);
    return;
  }
  // The first scan names every record already on disk, so the phases after
  // it never look a recorded name up again.
  outboxSize = directorySize(outboxDir, [this](const char* name) { knownNames.insert(name); });
  knownNamesComplete = true;
}

std::string sourceFragment(const std::string& account, const std::string& symbol, const std::string& sessionId,
                           bool simulation, bool replay) {
  return ",\"source_account\":" + jsonQuote(account) + ",\"source_symbol\":" + jsonQuote(symbol) +
         ",\"session_id\":" + jsonQuote(sessionId) + ",\"simulation\":" + (simulation ? "true" : "false") +
         ",\"replay\":" + (replay ? "true" : "false");
}

}  // namespace qbsync
