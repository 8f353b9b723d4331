// The host's time-zone conversion: host date-times moved between zones named
// by their Windows time-zone ids, with each zone's daylight-saving rules as
// Windows keeps them. "UTC" and "UTC+00" name UTC. Windows only.
#ifndef QB_HOSTSIM_TIME_ZONES_H
#define QB_HOSTSIM_TIME_ZONES_H

#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "study/study_host.h"

namespace qbhostsim {

class TimeZones {
 public:
  // Throws std::runtime_error naming an unknown zone id.
  HostDateTime toUtc(HostDateTime local, const std::string& zone);
  HostDateTime fromUtc(HostDateTime utc, const std::string& zone);
  HostDateTime shift(HostDateTime value, const std::string& fromZone, const std::string& toZone) {
    return fromUtc(toUtc(value, fromZone), toZone);
  }
  // Throws when the id names no zone this machine knows.
  void check(const std::string& zone);

  // The current UTC time as a host date-time (the host's real clock).
  static HostDateTime utcNow();

 private:
  struct Zone;
  const Zone* find(const std::string& zone);
  std::map<std::string, std::shared_ptr<Zone>> zones_;
};

}  // namespace qbhostsim

#endif
