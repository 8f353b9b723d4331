#include "study/sender_factory.h"

#include "sync/native_sender.h"

namespace qbsync {

const SenderFactory& senderFactory() {
  static const SenderFactory factory = [](const ConnectionSettings& settings, const std::string& secret,
                                          const std::string& outboxDir, LogSink sink) -> std::unique_ptr<SyncSender> {
    return std::make_unique<NativeSender>(settings, secret, outboxDir, std::move(sink), nativeHttpTransportFactory());
  };
  return factory;
}

}  // namespace qbsync
