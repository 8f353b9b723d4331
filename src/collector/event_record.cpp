#include "collector/event_record.h"

#include <stdexcept>

#include "collector/json_quote.h"
#include "storage/durable_file.h"
#include "support/timestamp.h"

namespace qbsync {

bool writeEventRecord(CollectorState& state, const std::string& eventId, const std::string& body,
                      const std::string& extension) {
  return writeEventRecord(state, eventId, [&body] { return body; }, extension);
}

bool writeEventRecord(CollectorState& state, const std::string& eventId, const std::function<std::string()>& body,
                      const std::string& extension) {
  const std::string key = eventId + extension;
  if (state.knownNames.count(key) != 0) return false;
  const std::string path = state.outboxDir + "\\" + key;
  // Once the names are complete an unknown name needs no lookup (publishOnce
  // still refuses a file that is there): an already-recorded fill costs a
  // search in memory, even in the first poll after a restart.
  if (!state.knownNamesComplete && pathExists(path)) {
    state.knownNames.insert(key);
    return false;
  }

  std::string record = "{\"schema_version\":1,\"event_id\":" + jsonQuote(eventId);
  record += state.sourceFragment;
  record += ",\"observed_at\":" + jsonQuote(utcNowText());
  record += body();
  record += "}\n";
  if (record.size() > kMaxEventRecordBytes) throw std::runtime_error(kRecordTooLarge);
  // Compared as "what remains" so that a size already above the budget cannot wrap.
  if (state.outboxSize > state.budget || record.size() > state.budget - state.outboxSize) {
    throw std::runtime_error(kOutboxCapacityReached);
  }

  const bool written = publishOnce(path, record);
  if (written) state.outboxSize += record.size();
  state.knownNames.insert(key);
  return written;
}

std::string fillEventId(const CollectorState& state, const std::string& nativeFillId,
                        const std::string& fillFragment) {
  return state.digest.sha256Hex(state.scopeDigest + "|fill|" + jsonQuote(nativeFillId) + fillFragment);
}

}  // namespace qbsync
