// Manual journal notes and chart captures turned into outbox records. A
// capture goes through a pending ".capture" record and is published as
// ".json" once its PNG is complete and stable over two polls.
#ifndef QB_COLLECTOR_MANUAL_JOURNAL_H
#define QB_COLLECTOR_MANUAL_JOURNAL_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "collector/collector_state.h"
#include "study/study_host.h"

namespace qbsync {

// A capture asked for by a fresh live fill.
struct CaptureCandidate {
  std::string captureKey;  // "fill:" + the fill record's event id
  std::string internalOrderIdText;
};

using Acknowledge = std::function<void(std::int32_t revision)>;

// Writes the note record of a pending manual note (revision > 0, text not
// empty), then acknowledges it. Throws on an over-long text or a failed write.
void runNoteStep(CollectorState& state, std::int32_t revision, const std::string& text,
                 const std::string& orderIdText, const Acknowledge& acknowledge);

// Requests the manual capture of `revision` (or else the fresh-fill capture)
// and acknowledges the manual one once its pending record exists.
void runCaptureStep(StudyHost& host, CollectorState& state, std::int32_t revision, const std::string& orderIdText,
                    const std::optional<CaptureCandidate>& candidate, const Acknowledge& acknowledge);

// Writes the pending capture record and asks the host for the image.
void requestCapture(StudyHost& host, CollectorState& state, const std::string& captureKey,
                    const std::string& orderIdText);

// Publishes the captures whose images are complete and stable; sets the
// state's capture warning for images overdue by more than 15 seconds.
void finalizeCaptures(CollectorState& state);

// sha256Hex(scope digest + "|screenshot|" + key).
std::string captureId(const CollectorState& state, const std::string& captureKey);

}  // namespace qbsync

#endif
