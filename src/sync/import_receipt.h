#ifndef QB_SYNC_IMPORT_RECEIPT_H
#define QB_SYNC_IMPORT_RECEIPT_H

#include <nlohmann/json.hpp>

#include "sync/native_spool.h"

namespace qbsync {

// Checks an import receipt against its batch, in the order the service
// contract fixes. Throws "INVALID_OBSERVATION_FIELD", "INVALID_IMPORT_RECEIPT",
// "PROJECTION_ONLY_RECEIPT" or "INVALID_PUBLICATION_VERSION". Pure: it reads
// only the destination settings and digests the batch body.
void verifyImportReceipt(const ConnectionSettings& settings, const Sha256Provider& digest,
                         const nlohmann::json& receipt, const BatchEntry& batch);

inline void verifyImportReceipt(const NativeSpool& spool, const nlohmann::json& receipt, const BatchEntry& batch) {
  verifyImportReceipt(spool.settings, spool.digest, receipt, batch);
}

}  // namespace qbsync

#endif
