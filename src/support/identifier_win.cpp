#include <windows.h>
#include <objbase.h>

#include <cstring>
#include <stdexcept>

#include "support/identifier.h"
#include "support/identifier_format.h"

namespace qbsync {

std::string newIdentifier() {
  GUID guid;
  if (FAILED(CoCreateGuid(&guid))) throw std::runtime_error("IDENTITY_GENERATION_FAILED");
  GuidFields fields;
  fields.data1 = guid.Data1;
  fields.data2 = guid.Data2;
  fields.data3 = guid.Data3;
  std::memcpy(fields.data4, guid.Data4, sizeof fields.data4);
  return formatIdentifier(fields);
}

}  // namespace qbsync
