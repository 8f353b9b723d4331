// The JSON string escaping used to build outbox records as text.
#ifndef QB_COLLECTOR_JSON_QUOTE_H
#define QB_COLLECTOR_JSON_QUOTE_H

#include <string>
#include <string_view>

namespace qbsync {

// The text as a JSON string literal: tab, line feed and carriage return as
// \t \n \r, quote and backslash escaped, other bytes below 0x20 as \u00xx;
// every other byte (0x7F and all of 0x80 and above too) copied unchanged.
// Never throws except for allocation.
std::string jsonQuote(std::string_view text);

}  // namespace qbsync

#endif
