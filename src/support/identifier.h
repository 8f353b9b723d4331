// Identifiers: canonical 36-character lowercase GUID texts.
#ifndef QB_SUPPORT_IDENTIFIER_H
#define QB_SUPPORT_IDENTIFIER_H

#include <string>
#include <string_view>

namespace qbsync {

// A fresh identifier from the system's GUID generator.
// Throws std::runtime_error "IDENTITY_GENERATION_FAILED".
std::string newIdentifier();

// True when the whole text is a lowercase canonical GUID other than the nil one.
bool isIdentifier(std::string_view text);

}  // namespace qbsync

#endif
