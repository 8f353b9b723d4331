// Calendar conversions of the platform (SystemTimeToFileTime and back on
// Windows; the C++ calendar natively), behind one seam.
#ifndef QB_SUPPORT_CIVIL_TIME_H
#define QB_SUPPORT_CIVIL_TIME_H

#include <cstdint>

#include "support/clock.h"

namespace qbsync {

// Fails (false) for fields the platform refuses.
bool civilToFileTime(const CivilTime& civil, std::uint64_t& fileTime);
bool fileTimeToCivil(std::uint64_t fileTime, CivilTime& civil);

}  // namespace qbsync

#endif
