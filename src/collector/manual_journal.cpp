#include "collector/manual_journal.h"

#include <windows.h>

#include <stdexcept>

#include "collector/event_record.h"
#include "collector/json_quote.h"
#include "storage/durable_file.h"
#include "storage/file_api.h"
#include "storage/png_file.h"
#include "support/clock.h"
#include "support/timestamp.h"

namespace qbsync {
namespace {

constexpr std::size_t kMaxNoteBytes = 12000;
constexpr std::uint64_t kCaptureReserveBytes = 33554432;
constexpr std::uint64_t kOverdueFileTime = 150000000;  // 15 s in 100 ns units

std::string manualKey(std::int32_t revision) { return "manual:" + std::to_string(revision); }

std::uint64_t lastWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!fileApi().getFileAttributesExA(path.c_str(), &data)) return 0;
  return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

// Flushes the image before its record is published, so a published record
// never points at an image still in the host's buffers.
bool flushImage(const std::string& path) {
  HANDLE file = fileApi().createFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE) return false;
  const BOOL flushed = fileApi().flushFileBuffers(file);
  fileApi().closeHandle(file);
  if (!flushed) throw std::runtime_error("Screenshot flush failed; metadata remains pending.");
  return true;
}

}  // namespace

std::string captureId(const CollectorState& state, const std::string& captureKey) {
  return state.digest.sha256Hex(state.scopeDigest + "|screenshot|" + captureKey);
}

void runNoteStep(CollectorState& state, std::int32_t revision, const std::string& text,
                 const std::string& orderIdText, const Acknowledge& acknowledge) {
  if (revision <= 0 || text.empty()) return;
  if (text.size() > kMaxNoteBytes) throw std::runtime_error("Manual note exceeds 12,000 UTF-8 bytes.");
  const std::string noteId = manualKey(revision);
  const std::string eventId = state.digest.sha256Hex(state.scopeDigest + "|note|" + noteId);
  writeEventRecord(state, eventId,
                   ",\"kind\":\"note\",\"note_id\":" + jsonQuote(noteId) + ",\"note\":" + jsonQuote(text) +
                       ",\"internal_order_id\":" + jsonQuote(orderIdText),
                   ".json");
  acknowledge(revision);
}

void requestCapture(StudyHost& host, CollectorState& state, const std::string& captureKey,
                    const std::string& orderIdText) {
  const std::string id = captureId(state, captureKey);
  const std::string base = state.outboxDir + "\\" + id;
  if (pathExists(base + ".capture")) return;

  std::uint64_t reserve = kCaptureReserveBytes;
  for (const std::string& name : listFiles(state.outboxDir, "*.capture")) {
    const std::string stem = name.substr(0, name.size() - 8);
    if (!pathExists(state.outboxDir + "\\" + stem + ".json")) reserve += kCaptureReserveBytes;
  }
  if (state.budget < state.outboxSize + reserve) {
    throw std::runtime_error(
        "Outbox lacks reserved screenshot budget (32 MiB per pending capture); screenshot capture paused. Existing "
        "pending requests are retained.");
  }
  const std::string body = ",\"kind\":\"screenshot\",\"screenshot_id\":" + jsonQuote(id) +
                           ",\"file_name\":" + jsonQuote(id + ".png") + ",\"internal_order_id\":" +
                           jsonQuote(orderIdText) + ",\"captured_at\":" + jsonQuote(utcNowText()) +
                           ",\"capture_timing\":\"requested_before_deferred_chart_render\"";
  if (writeEventRecord(state, id, body, ".capture") && host.captureChartImage) {
    host.captureChartImage(&host, host.chartId, (base + ".png").c_str(), 0, 0, 0);
  }
}

void runCaptureStep(StudyHost& host, CollectorState& state, std::int32_t revision, const std::string& orderIdText,
                    const std::optional<CaptureCandidate>& candidate, const Acknowledge& acknowledge) {
  const std::string manualCapture =
      revision > 0 ? state.outboxDir + "\\" + captureId(state, manualKey(revision)) + ".capture" : std::string();
  if (revision > 0 && !pathExists(manualCapture)) {
    // A manual request wins over a fresh fill in the same poll.
    requestCapture(host, state, manualKey(revision), orderIdText);
  } else if (candidate) {
    requestCapture(host, state, candidate->captureKey, candidate->internalOrderIdText);
  }
  if (revision > 0 && pathExists(manualCapture)) acknowledge(revision);
}

void finalizeCaptures(CollectorState& state) {
  state.captureWarning.clear();
  for (const std::string& name : listFiles(state.outboxDir, "*.capture")) {
    const std::string id = name.substr(0, name.size() - 8);
    const std::string base = state.outboxDir + "\\" + id;
    if (pathExists(base + ".json")) continue;
    std::uint64_t size = 0;
    if (!isCompletePng(base + ".png", &size)) {
      if (clock().fileTimeNow() > lastWriteTime(base + ".capture") + kOverdueFileTime) {
        state.captureWarning = "Screenshot pending for more than 15 seconds: " + id +
                               ".capture. Fills continue. Check chart visibility/rendering; increment the manual "
                               "screenshot revision to capture current context. The old request is retained.";
      }
      continue;
    }
    const auto seen = state.captureSizes.find(id);
    if (seen == state.captureSizes.end() || seen->second != size) {
      state.captureSizes[id] = size;  // publish only once the size held over two polls
      continue;
    }
    if (!flushImage(base + ".png")) continue;
    const std::string record = readSmallFile(base + ".capture");
    if (state.outboxSize + record.size() > state.budget) {
      throw std::runtime_error("Outbox full; screenshot retained pending publication.");
    }
    if (publishOnce(base + ".json", record)) state.outboxSize += record.size();
  }
}

}  // namespace qbsync
