// An in-process StudyHost for collector tests: plain C function pointers over
// a fill list, symbol details and a fixed chart-to-UTC offset. Texts handed to
// the study live in scratch buffers that the next call of the same function
// overwrites, as the host's do, so code that keeps a host pointer too long
// reads garbage and fails its test.
#ifndef QB_TESTS_COLLECTOR_FAKE_STUDY_HOST_H
#define QB_TESTS_COLLECTOR_FAKE_STUDY_HOST_H

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "study/study_host.h"

namespace qbtest {

struct FakeFill {
  std::string symbol = "ESZ25";
  std::string account = "Sim1";
  int32_t simulated = 1;
  uint64_t internalOrderId = 1001;
  HostDateTime fillTime = 0;  // chart time
  int32_t side = 1;
  double quantity = 1;
  double price = 6000.25;
  std::string serviceExecutionId = "X1";
  double positionQuantity = 1;
  std::string note;
  std::string serviceOrderId = "SO1";
};

class FakeStudyHost {
 public:
  FakeStudyHost();
  FakeStudyHost(const FakeStudyHost&) = delete;
  FakeStudyHost& operator=(const FakeStudyHost&) = delete;

  StudyHost& host() { return host_; }

  // Chart.
  std::string account = "Sim1";
  std::string tradeSymbol = "ESZ25";
  std::string chartSymbol = "ESZ25";
  std::string zoneName = "America/New_York";
  int64_t chartToUtcMicros = 5LL * 3600 * 1000000;  // chart time + this = UTC

  // Fills. Indices in `loading` read as not yet loaded; onFillRead runs after
  // each read (for example to add a fill mid-poll).
  std::vector<FakeFill> fills;
  std::set<int32_t> loading;
  std::function<void(int32_t index)> onFillRead;
  int fillReads = 0;

  // Instrument.
  bool offerSecurityKind = true;
  int32_t securityKind = 7;
  std::optional<std::string> tradeService = std::string("CQG");
  bool offerSymbolDetails = true;
  HostSymbolDetails details{12.5, 0.25, 1, 0, 50, 0};
  std::vector<std::string> detailsAsked;  // symbol texts passed to symbolDetails
  std::vector<std::string> zonesAsked;    // zone names passed to shiftTimeZone

  // Applies the optional-function switches above to the StudyHost.
  void refresh();

  // Scratch buffers behind the texts of the last call of each function.
  std::string fillScratch[5];
  std::string textScratch;

 private:
  StudyHost host_{};
};

// Chart time of a UTC instant given as Unix microseconds, for this host.
HostDateTime chartTimeOfUnixMicros(const FakeStudyHost& fake, int64_t unixMicros);

}  // namespace qbtest

#endif
