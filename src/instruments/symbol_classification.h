// Text rules for instruments when the host supplies no instrument metadata:
// symbols the service refuses, canonical futures contract texts, and the
// classification of a chart symbol as a future or a stock.
//
// All functions are pure, hold no state and may run on any thread. None of
// them throws for any input text; "no contract" is the empty text.
#ifndef QB_INSTRUMENTS_SYMBOL_CLASSIFICATION_H
#define QB_INSTRUMENTS_SYMBOL_CLASSIFICATION_H

#include <string>
#include <string_view>

namespace qbsync {

// Result of classifying a source symbol.
struct InstrumentClass {
  std::string asset_type;  // "future" or "stock"
  std::string api_symbol;  // canonical contract, stock ticker, or "" when none derived
};

// True for crypto, forex, metal and CFD-like symbols the service does not
// accept. Letters are compared upper-cased and surrounding spaces ignored.
// The patterns are compiled once per process.
bool isUnsupportedSymbol(std::string_view symbol);

// The canonical contract text "ROOT MM-YY" for the numeric ("ES 12-25"),
// month-name ("ES DEC25") and month-code ("ESZ25", "ESZ2025") notations,
// optionally followed by ".FUT"; "" for anything else (one-digit years,
// centuries other than 20, lower-case letters, invalid months).
std::string normalizeFutureContract(std::string_view text);

// Classifies the host's trade symbol. detectedType is "future", "stock", or
// "" when the host gave none; any other text yields a future without contract.
InstrumentClass classifySourceInstrument(std::string_view source,
                                         std::string_view detectedType);

// Removes the host's "_FUT_<exchange>" suffix from a symbol, if present.
std::string stripFutureSuffix(std::string_view source);

// True when the whole text is a month-code contract with a one-digit year
// ("ESZ5"); such symbols carry too little to name a contract by themselves.
bool isOneDigitYearContract(std::string_view text);

// The month code letter ("FGHJKMNQUVXZ") for month 1..12; '\0' otherwise.
char monthCodeLetter(int month);

}  // namespace qbsync

#endif
