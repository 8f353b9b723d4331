// One account the journal service offered during setup.
#ifndef QB_SERVICE_SETUP_ACCOUNT_H
#define QB_SERVICE_SETUP_ACCOUNT_H

#include <string>

namespace qbnative {

struct SetupAccount {
  std::string account_id;  // canonical lowercase UUID
  std::string name;        // as the service returned it
};

}  // namespace qbnative

#endif
