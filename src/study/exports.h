// Exported entry points of the study library, under their exact undecorated names.
#ifndef QB_STUDY_EXPORTS_H
#define QB_STUDY_EXPORTS_H

#include "study/study_host.h"

#ifdef _WIN32
#define QB_EXPORT __declspec(dllexport)
#else
#define QB_EXPORT
#endif

extern "C" {
QB_EXPORT const char* scdll_DLLName();
QB_EXPORT int scdll_DLLVersion();
QB_EXPORT const char* QuorbelleThirdPartyNotices();
QB_EXPORT void scsf_QuorbelleApiSyncCollector(StudyHost* host);
}

#endif
