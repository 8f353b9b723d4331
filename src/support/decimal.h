// Exact decimal text for prices and quantities; host side codes.
#ifndef QB_SUPPORT_DECIMAL_H
#define QB_SUPPORT_DECIMAL_H

#include <string>
#include <string_view>

namespace qbsync {

// A host double as decimal text with at most 8 decimal places and at most 22
// integer digits. Throws std::runtime_error with a trader-facing sentence.
std::string decimalText(double value);

// Validates and normalises decimal text. Throws std::runtime_error "INVALID_DECIMAL".
std::string normalizeDecimal(std::string_view text, bool positiveRequired, bool nonNegativeRequired);

// "buy" for 1, "sell" for 2; throws "Unknown fill side; collection paused." otherwise.
std::string sideText(int side);

}  // namespace qbsync

#endif
