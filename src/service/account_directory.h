// The service's answer to the account directory request as account discovery
// reads it: every listed account must be usable, or none is offered.
#ifndef QB_SERVICE_ACCOUNT_DIRECTORY_H
#define QB_SERVICE_ACCOUNT_DIRECTORY_H

#include <string_view>
#include <vector>

#include "service/setup_account.h"

namespace qbsync {

// The accounts of a 200 answer's body, in the service's order; an empty
// "accounts" array gives an empty list. The body must be one strict JSON
// object within kServiceBodyLimit with an "accounts" array whose every element
// is an object with a string "account_id" that is an identifier and a string
// "name" of 1 to 512 printable bytes. Throws std::runtime_error
// "INVALID_ACCOUNT_DIRECTORY" otherwise, one bad element refusing the whole
// answer. Pure; any thread.
std::vector<qbnative::SetupAccount> readAccountDirectory(std::string_view body);

}  // namespace qbsync

#endif
