// The two setup-time exchanges with the journal service: listing the accounts
// that a set of credentials can see, and confirming that one account is ready
// for the connector. Each builds its own transport and runs on the caller's
// (worker) thread; the cancel flag, set from another thread, ends the request
// in flight.
#ifndef QB_SERVICE_ACCOUNT_REQUESTS_H
#define QB_SERVICE_ACCOUNT_REQUESTS_H

#include <atomic>
#include <string>
#include <vector>

#include "service/setup_account.h"
#include "settings/connection_settings.h"
#include "support/log_queue.h"

namespace qbsync {

// Readiness (eligible mode, no account) then the account directory; returns
// the accounts in the service's order. Throws a code ("ACCOUNT_LOADING_CANCELLED",
// "COULD_NOT_LOAD_ACCOUNTS", "INVALID_ACCOUNT_DIRECTORY", transport codes) or
// a NativeReadinessError.
std::vector<qbnative::SetupAccount> requestAccounts(const ConnectionSettings& candidate, const std::string& secret,
                                                    const std::atomic<bool>& cancel, LogSink sink);

// Readiness in ready mode for the candidate's account. Throws
// "CONNECTION_CHECK_CANCELLED", transport codes or a NativeReadinessError.
void requestConnectionCheck(const ConnectionSettings& candidate, const std::string& secret,
                            const std::atomic<bool>& cancel, LogSink sink);

}  // namespace qbsync

#endif
