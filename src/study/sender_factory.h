#ifndef QB_STUDY_SENDER_FACTORY_H
#define QB_STUDY_SENDER_FACTORY_H

#include "sync/sync_controller.h"

namespace qbsync {

// How the study starts a sender for a scope outbox.
const SenderFactory& senderFactory();

}  // namespace qbsync

#endif
