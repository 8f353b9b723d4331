// What the controller and the study see of a running sender: its flags, its
// status text, and how to stop it. The sender thread itself lives behind this.
#ifndef QB_SYNC_SYNC_SENDER_H
#define QB_SYNC_SYNC_SENDER_H

#include <string>

namespace qbsync {

class SyncSender {
 public:
  virtual ~SyncSender() = default;
  // Sets the stop flag, cancels the request in flight and wakes the thread. Any thread.
  virtual void requestStop() = 0;
  // requestStop, then joins the thread. Never from the sender thread.
  virtual void stopAndJoin() = 0;
  virtual bool stopRequested() const = 0;
  // The thread stopped on its own after reporting a failure it cannot retry.
  virtual bool halted() const = 0;
  // A native readiness check confirmed the account.
  virtual bool verified() const = 0;
  virtual std::string statusText() const = 0;
};

}  // namespace qbsync

#endif
