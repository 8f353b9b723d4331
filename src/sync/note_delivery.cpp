#include "sync/note_delivery.h"

#include <stdexcept>

#include "service/json_object.h"
#include "service/protocol.h"
#include "settings/api_origin.h"
#include "storage/durable_file.h"
#include "support/clock.h"
#include "sync/note_receipt.h"
#include "sync/record_fields.h"
#include "sync/retry_delay.h"

namespace qbsync {
namespace {

constexpr std::uint64_t kLocalFaultDelayMs = 60000;
constexpr std::size_t kReceiptLimit = 65536;

struct Stage {
  const char* code;
  const char* message;
};
constexpr Stage kRequestStage{"NOTE_REQUEST_FAILED", "The note request could not complete."};
constexpr Stage kReceiptCheckStage{
    "INVALID_NOTE_RECEIPT",
    "Quorbelle returned an invalid note confirmation (HTTP 200); the note is not confirmed saved."};
constexpr Stage kReceiptSaveStage{"NOTE_RECEIPT_SAVE_FAILED",
                                  "Quorbelle confirmed the note, but its receipt could not be saved locally. "
                                  "Check disk space and folder access."};

std::string defaultOriginHost() {
  std::string host = kDefaultApiOrigin;
  const std::size_t scheme = host.find("://");
  if (scheme != std::string::npos) host = host.substr(scheme + 3);
  const std::size_t port = host.find(':');
  return port == std::string::npos ? host : host.substr(0, port);
}

void scheduleRetry(NativeSpool& spool, const NoteEntry& note, std::uint64_t delay) {
  spool.next_note_at = clock().tickMs() + delay;
  spool.log("Retrying note request=" + note.key + " in " + std::to_string(delay) + "ms.", false);
}

}  // namespace

std::string noteFailureMessage(const NativeApiError& error) {
  const int status = error.httpStatus();
  std::string text = status == 0 ? "Note upload could not reach Quorbelle"
                                 : "Note upload failed (HTTP " + std::to_string(status) + ")";
  if (!error.code().empty()) text += ": " + error.code();
  if (!error.field().empty()) text += " at " + error.field();
  text += ". ";
  const std::string& code = error.code();
  if (code == "INVALID_SYNC_CONNECTOR") {
    text += "Deploy the Sierra notes API update on " + defaultOriginHost() + ".";
  } else if (code == "INVALID_SYNC_IDENTITY") {
    text += "The server rejected the saved note connector or client identity.";
  } else if (code == "NOT_AUTHORIZED" || status == 401) {
    text += "Check the saved email, Account Secret, and account access.";
  } else if (code == "PERSONAL_JOURNAL_CONSENT_REQUIRED") {
    text += "Personal journal access is required for these day notes.";
  } else if (status == 404 || code == "DISABLED") {
    text += "The server's journal notes endpoint is unavailable.";
  } else if (status == 403) {
    text += "The server denied the note request.";
  } else if (status == 429) {
    text += "Quorbelle requested a slower retry rate.";
  } else if (code == "INVALID_ANNOTATION_BODY") {
    text += "The server rejected the note format.";
  } else if (code == "IDEMPOTENCY_CONFLICT") {
    text += "The saved note conflicts with an earlier request; retain its files for investigation.";
  } else if (status >= 500) {
    text += "The notes service is temporarily unavailable.";
  }
  return text;
}

void recordNoteFailure(NativeSpool& spool, const NoteEntry& note, const nlohmann::json& document,
                       const std::string& message) {
  spool.note_detail = message + " Execution sync continues; saved notes will retry.";
  spool.log("Note request=" + note.key + ": " + spool.note_detail, true);
  try {
    replaceFile(note.path + ".error.json", compactJson(document));
  } catch (const std::exception&) {
    spool.note_detail += " Error details could not be saved to disk.";
  }
}

void noteStep(NativeSpool& spool, ITransport& transport) {
  if (!spool.settings.sync_notes || clock().tickMs() < spool.next_note_at) return;
  NoteEntry* pending = nullptr;
  for (NoteEntry& note : spool.notes) {
    if (!note.confirmed) {
      pending = &note;
      break;
    }
  }
  if (!pending) return;
  NoteEntry& note = *pending;

  const Stage* stage = &kRequestStage;
  int status = 0;
  try {
    const HttpResponse response = transport.request("POST", "/api/v2/journal/notes", note.body, note.key);
    status = response.status;
    if (status != 200) {
      const NativeApiError error(response);
      recordNoteFailure(spool, note, errorDocument(error), noteFailureMessage(error));
      scheduleRetry(spool, note,
                    isRetryableStatus(status) ? retryDelay(spool, response) : kLocalFaultDelayMs);
      return;
    }
    stage = &kReceiptCheckStage;
    const nlohmann::json receipt = parseJsonObject(response.body, kReceiptLimit);
    verifyNoteReceipt(spool, receipt, note);
    stage = &kReceiptSaveStage;
    replaceFile(note.path + ".receipt.json", compactJson(receipt));
    note.confirmed = true;
    spool.failure_count = 0;
    spool.note_detail.clear();
    spool.log("Applied note; request=" + note.key + "; operation=" + requireString(receipt, "operation_id"),
              false);
  } catch (const std::exception&) {
    recordNoteFailure(spool, note, nlohmann::json{{"code", stage->code}, {"http_status", status}}, stage->message);
    scheduleRetry(spool, note, kLocalFaultDelayMs);
  }
}

}  // namespace qbsync
