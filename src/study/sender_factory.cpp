#include "study/sender_factory.h"

namespace qbsync {

const SenderFactory& senderFactory() {
  // The sender thread is not part of this build yet: collection runs alone
  // and the records wait in the outbox.
  static const SenderFactory none;
  return none;
}

}  // namespace qbsync
