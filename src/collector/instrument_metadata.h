// What the host knows about the traded instrument, as the JSON object that
// every fill record carries and the controller compares with its symbol.
#ifndef QB_COLLECTOR_INSTRUMENT_METADATA_H
#define QB_COLLECTOR_INSTRUMENT_METADATA_H

#include <string>

#include <nlohmann/json.hpp>

#include "study/study_host.h"

namespace qbsync {

// The metadata object of `sourceSymbol` (the decoded trade symbol, or chart
// symbol when the trade symbol is empty). Members the host cannot supply are
// omitted, never invented; symbol details are read only while market data is
// connected. Serialised with dump() it is the compact, key-ordered text the
// fill records embed. Throws only the host-text decoding errors. Chart thread.
nlohmann::json captureInstrumentMetadata(StudyHost& host, const std::string& sourceSymbol);

// The positional decimal text of a positive finite double: the shortest text
// that reads back as exactly `value`, with any exponent written out
// (1e-05 -> "0.00001"). Empty for 0, negatives, infinities and NaN.
std::string metadataNumberText(double value);

}  // namespace qbsync

#endif
