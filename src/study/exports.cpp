// The four entry points the host looks up by name.
#include "study/exports.h"

#include "study/study_function.h"

extern const char kThirdPartyNotices[];

extern "C" {

QB_EXPORT const char* scdll_DLLName() { return "Quorbelle Sync"; }

QB_EXPORT int scdll_DLLVersion() { return 2969; }

QB_EXPORT const char* QuorbelleThirdPartyNotices() { return kThirdPartyNotices; }

QB_EXPORT void scsf_QuorbelleApiSyncCollector(StudyHost* host) { qbsync::runStudyFunction(host); }

}
