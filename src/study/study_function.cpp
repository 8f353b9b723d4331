#include "study/study_function.h"

namespace qbsync {

void runStudyFunction(StudyHost* host) noexcept { (void)host; }

}  // namespace qbsync
