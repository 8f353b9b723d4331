// The study function: declaration call, per-call cycle and final call.
#ifndef QB_STUDY_STUDY_FUNCTION_H
#define QB_STUDY_STUDY_FUNCTION_H

#include "study/study_host.h"

namespace qbsync {

// Runs one host call. Never throws: every failure ends in the status input and
// the host log. Chart thread only.
void runStudyFunction(StudyHost* host) noexcept;

}  // namespace qbsync

#endif
