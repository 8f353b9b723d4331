#ifndef QB_SYNC_IMPORT_RECEIPT_H
#define QB_SYNC_IMPORT_RECEIPT_H

#include <nlohmann/json.hpp>

#include "sync/native_spool.h"

namespace qbsync {

// Checks an import receipt against its batch, in the order the service
// contract fixes. Throws "INVALID_OBSERVATION_FIELD", "INVALID_IMPORT_RECEIPT",
// "PROJECTION_ONLY_RECEIPT" or "INVALID_PUBLICATION_VERSION".
void verifyImportReceipt(const NativeSpool& spool, const nlohmann::json& receipt, const BatchEntry& batch);

}  // namespace qbsync

#endif
