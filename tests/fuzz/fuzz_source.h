// Shared by the fuzz targets: the chart sources they check input against,
// the ways to run a step that may refuse, and a way to stop with a message
// when a property fails (libFuzzer keeps the input that did it).
#ifndef QB_TESTS_FUZZ_FUZZ_SOURCE_H
#define QB_TESTS_FUZZ_FUZZ_SOURCE_H

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <initializer_list>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "settings/connection_settings.h"

namespace qbfuzz {

// The account the sources are bound to; seeds use the same identifiers.
inline constexpr char kAccountId[] = "3f2b8c1e-9d4a-4e7b-8c6f-1a2b3c4d5e6f";

// Futures in journal mode, stocks in journal mode, and the native instrument
// protocol: the three shapes a fill is derived in.
inline std::vector<qbsync::ConnectionSettings> sources() {
  qbsync::ConnectionSettings futures;
  futures.email = "trader@example.com";
  futures.account_id = kAccountId;
  futures.source_account = "Sim1";
  futures.source_symbol = "ESZ25";
  futures.session_id = "9e1d3a5c-7b2f-4c8e-a1d0-5f6e7a8b9c0d";
  futures.simulation = true;
  futures.asset_type = "future";
  futures.api_symbol = "ES 12-25";
  futures.commission_per_unit = "1.25";
  futures.fees_per_unit = "0.35";
  futures.allow_local_fill_ids = true;

  qbsync::ConnectionSettings stocks = futures;
  stocks.source_symbol = "AAPL";
  stocks.asset_type = "stock";
  stocks.api_symbol = "AAPL";
  stocks.allow_local_fill_ids = false;

  qbsync::ConnectionSettings native = futures;
  native.native_instrument_protocol = true;
  return {futures, stocks, native};
}

// Runs a step whose refusal (an exception) is a valid outcome for hostile input.
template <typename F>
void attempt(F&& f) {
  try {
    f();
  } catch (const std::exception&) {
  }
}

[[noreturn]] inline void broken(const char* what) {
  std::fprintf(stderr, "property failed: %s\n", what);
  std::abort();
}

// Runs a step whose refusal is a valid outcome only as one of its codes: a
// runtime error with that text. Another text, or a library exception escaping
// the step, is a failed property. True when the step completed.
template <typename F>
bool attemptRefusing(std::initializer_list<std::string_view> codes, F&& f) {
  try {
    f();
    return true;
  } catch (const std::runtime_error& e) {
    for (const std::string_view code : codes) {
      if (code == e.what()) return false;
    }
    std::fprintf(stderr, "refused with: %s\n", e.what());
    broken("refused with a text that is not one of the step's codes");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "escaped: %s\n", e.what());
    broken("an exception other than a code escaped");
  }
}

}  // namespace qbfuzz

#endif
