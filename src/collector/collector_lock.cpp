#include "collector/collector_lock.h"

#include <windows.h>

#include "storage/file_api.h"

namespace qbsync {

bool openCollectorLock(CollectorState& state) {
  const std::string path = state.outboxDir + "\\collector.lock";
  HANDLE handle = fileApi().createFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL);
  if (handle == INVALID_HANDLE_VALUE) return false;
  state.lockHandle = handle;
  return true;
}

void closeCollectorLock(CollectorState& state) {
  if (state.lockHeld()) fileApi().closeHandle(state.lockHandle);
  state.lockHandle = nullptr;
}

}  // namespace qbsync
