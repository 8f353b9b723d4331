// The text shown to the trader for a caught error message.
#ifndef QB_SETTINGS_MESSAGE_FOR_CODE_H
#define QB_SETTINGS_MESSAGE_FOR_CODE_H

#include <string>
#include <string_view>

namespace qbsync {

// Maps the legacy-reconciliation codes (whole-text comparison) to their
// sentence and returns every other text unchanged. Pure; any thread.
std::string messageForCode(std::string_view codeOrMessage);

}  // namespace qbsync

#endif
