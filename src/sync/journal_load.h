#ifndef QB_SYNC_JOURNAL_LOAD_H
#define QB_SYNC_JOURNAL_LOAD_H

#include "sync/native_spool.h"

namespace qbsync {

// Re-reads and re-verifies every execution entry, the high-water record,
// every observation marker, batch and note request of an opened spool, and
// fills its in-memory journal. Throws a code on the first file that fails its
// checks; the files are left as they are (high-water.json is rewritten to the
// loaded count once the entries verified). A bad note request only sets
// notes_need_attention.
void loadJournal(NativeSpool& spool);

}  // namespace qbsync

#endif
