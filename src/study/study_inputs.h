// The 17 study inputs: their indices, declaration, and typed access.
#ifndef QB_STUDY_STUDY_INPUTS_H
#define QB_STUDY_STUDY_INPUTS_H

#include <cstdint>
#include <string>

#include "study/study_host.h"

namespace qbsync {

enum StudyInputIndex : std::int32_t {
  kInputAllowSync = 0,
  kInputOutboxRoot = 1,
  kInputSessionId = 2,
  kInputAllowReplay = 3,
  kInputAllowLocalFillIds = 4,
  kInputMaxOutboxMib = 5,
  kInputMaxFillsPerPoll = 6,
  kInputCaptureOrders = 7,
  kInputCaptureFreshFills = 8,
  kInputCaptureRevision = 9,
  kInputOrderIdText = 10,
  kInputNoteRevision = 11,
  kInputNoteText = 12,
  kInputSourceAccount = 13,
  kInputSourceSymbol = 14,
  kInputStatus = 15,
  kInputNoteShortcut = 16,
  kInputCount = 17
};

// Declares every input in index order (declaration call only).
void declareStudyInputs(StudyHost& host);

std::int32_t inputInteger(StudyHost& host, std::int32_t index);
bool inputYes(StudyHost& host, std::int32_t index);
// Raw host bytes of a text input; the host reads an empty text as "Unset".
const char* inputRawText(StudyHost& host, std::int32_t index);

void setInputInteger(StudyHost& host, std::int32_t index, std::int32_t value);
void setInputText(StudyHost& host, std::int32_t index, const std::string& text);

}  // namespace qbsync

#endif
