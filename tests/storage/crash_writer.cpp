// Child process of the crash test: writes durable files in an endless loop
// until the parent kills it.
//   crash_writer replace <target> <ready-event>
//       replaceFile(target) with crashContent(0), crashContent(1), ... alternating
//   crash_writer publish <dir> <ready-event> <first-index>
//       publishOnce(dir\r-<i>.json, crashContent(i)) for i = first-index, ...
#include <windows.h>

#include <cstdlib>
#include <string>

#include "storage/crash_content.h"
#include "storage/durable_file.h"

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const std::string mode = argv[1];
  const std::string where = argv[2];
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3]);
  if (!ready) return 3;
  SetEvent(ready);
  try {
    if (mode == "replace") {
      for (unsigned i = 0;; ++i) qbsync::replaceFile(where, qbtest::crashContent(i % 2));
    }
    if (mode == "publish" && argc >= 5) {
      for (unsigned i = static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10));; ++i) {
        qbsync::publishOnce(where + "\\" + qbtest::crashRecordName(i), qbtest::crashContent(i));
      }
    }
  } catch (...) {
    return 4;
  }
  return 2;
}
