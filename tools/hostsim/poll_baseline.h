// What no collector poll can skip, timed bare by the host right after each of
// the study's polls, so a benchmark can weigh every poll against it in the
// same run: a scan of the scope outbox directory (names and sizes), the host
// reads of every loaded fill and order with their texts, and a durable
// publish (write-through temporary file, flush, rename) of each record the
// poll wrote, with the same bytes, into the same directory. Windows only; the
// chart thread.
#ifndef QB_HOSTSIM_POLL_BASELINE_H
#define QB_HOSTSIM_POLL_BASELINE_H

#include <cstddef>
#include <set>
#include <string>

#include "study/study_host.h"

namespace qbhostsim {

class PollBaseline {
 public:
  // The collector names its scope directory in this log line once it holds it.
  static constexpr const char* kOutboxLine = "Quorbelle collector outbox: ";

  // Takes the scope directory from a collector log line, if it is one.
  void noteLog(const std::string& message);

  struct Result {
    double ms = 0;             // the timed work only
    std::size_t records = 0;   // records published bare: the poll's new ones
  };
  // Times the baseline of the poll that just ended on `host`. False when no
  // scope directory is known yet. Throws std::runtime_error when a bare call
  // fails. The bare copies are removed again, outside the timing.
  bool measure(StudyHost& host, Result& result);

 private:
  std::string scopeDir_;
  std::set<std::string> records_;  // record names seen by the last baseline
  std::size_t copies_ = 0;
};

}  // namespace qbhostsim

#endif
