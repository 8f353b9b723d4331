#include "sync/note_receipt.h"

#include <stdexcept>

#include "service/json_object.h"
#include "support/identifier.h"
#include "sync/record_fields.h"

namespace qbsync {
namespace {

constexpr std::size_t kNoteBodyLimit = 65536;

[[noreturn]] void invalid() { throw std::runtime_error("INVALID_NOTE_RECEIPT"); }

bool integerIs(const nlohmann::json& object, const char* key, std::int64_t expected) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_number_integer()) return false;
  if (it->is_number_unsigned()) return expected >= 0 && it->get<std::uint64_t>() == static_cast<std::uint64_t>(expected);
  return it->get<std::int64_t>() == expected;
}

}  // namespace

void verifyNoteReceipt(const nlohmann::json& receipt, const NoteEntry& note) {
  const nlohmann::json body = parseJsonObject(note.body, kNoteBodyLimit);
  if (!receipt.is_object() || !integerIs(receipt, "schema_version", 2)) invalid();
  if (requireString(receipt, "status") != "applied") invalid();
  if (requireString(receipt, "action") != "notes.save") invalid();
  const auto target = receipt.find("target");
  const auto sentTarget = body.find("target");
  if (target == receipt.end() || sentTarget == body.end() || *target != *sentTarget) invalid();
  const auto account = receipt.find("account_id");
  if (account == receipt.end() || !account->is_null()) invalid();
  if (!integerIs(receipt, "changed", 1)) invalid();
  if (!isIdentifier(requireString(receipt, "operation_id"))) invalid();
  if (requireString(receipt, "note_ref").empty()) invalid();
}

}  // namespace qbsync
