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

// The same checks for a reader that must change nothing: high-water.json is
// only read, and each file that fails goes to `onFailure` with its code while
// the load goes on with the next file. A failed execution keeps its place, so
// later entries are checked at their own sequence and the batches over it
// fail in turn; a batch that fails is left out, one whose receipt fails stays
// frozen. For support tools; such a spool is not for delivery.
void inspectJournal(NativeSpool& spool, const LoadFailureSink& onFailure);

}  // namespace qbsync

#endif
