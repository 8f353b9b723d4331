// A probe study for testing the host simulator itself: it logs what the host
// hands it through each StudyHost member, so a test can compare that with
// the scenario. Not the product; the product's own tests load QuorbelleSync.
#include <windows.h>

#include <cinttypes>
#include <cstdio>
#include <string>

#include "study/study_host.h"

namespace {

std::string timeText(HostDateTime t) {
  // Civil date from days since 1899-12-30 (days-from-civil inverted).
  std::int64_t days = t / 86400000000LL - 25569 + 719468;
  const std::int64_t rest = t % 86400000000LL;
  const std::int64_t era = days / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04" PRId64 "-%02" PRId64 "-%02" PRId64 " %02" PRId64 ":%02" PRId64 ":%02" PRId64 ".%06" PRId64,
                y, m, d, rest / 3600000000LL, rest / 60000000LL % 60, rest / 1000000LL % 60, rest % 1000000LL);
  return buf;
}

void log(StudyHost* h, const std::string& text) { h->logMessage(h, text.c_str(), 0); }

// Where the probe writes records for fills noted "record", as the collector
// writes them into its scope directory.
std::string scopeDir(StudyHost* h) { return std::string(h->dataFolder(h)) + "\\probe-scope"; }

void writeRecord(StudyHost* h, int32_t index) {
  char name[80];
  std::snprintf(name, sizeof name, "\\%064d.json", static_cast<int>(index));
  HANDLE f = CreateFileA((scopeDir(h) + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;  // written by an earlier call
  const std::string bytes = "{\"record\":" + std::to_string(index) + "}";
  DWORD written = 0;
  WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(f);
}

}  // namespace

extern "C" __declspec(dllexport) const char* scdll_DLLName() { return "Probe"; }
extern "C" __declspec(dllexport) int scdll_DLLVersion() { return 1; }

extern "C" __declspec(dllexport) void scsf_QuorbelleApiSyncCollector(StudyHost* h) {
  if (h->isDefaultsCall) {
    h->setDisplayName(h, "Probe");
    h->declareInput(h, 0, "Flag", QB_INPUT_YES_NO, 1, 0, 1, "");
    h->declareInput(h, 1, "Number", QB_INPUT_INTEGER, 5, 1, 10, "");
    h->declareInput(h, 2, "Text", QB_INPUT_TEXT, 0, 0, 0, "");
    h->wantKeyEvents = 1;
    return;
  }
  int32_t& calls = *h->keptInteger(h, 1);
  if (h->isFinalCall) {
    log(h, "final calls=" + std::to_string(calls));
    for (int id = 1; id <= 2; ++id) h->dropMenuEntry(h, h->chartId, id);
    return;
  }
  ++calls;
  if (calls == 1) {
    h->addMenuEntry(h, h->chartId, "Probe menu");
    log(h, std::string("chart ") + h->accountText + " " + h->tradeSymbolText + " zone " + h->chartZoneName(h, h->chartId) +
               " data " + h->dataFolder(h));
    CreateDirectoryA(scopeDir(h).c_str(), nullptr);
    log(h, "Quorbelle collector outbox: " + scopeDir(h));
  }
  if (h->menuPick) log(h, "menu " + std::to_string(h->menuPick));
  if (h->keyPressed) log(h, "key " + std::to_string(h->keyPressed) + " ctrl " + std::to_string(h->ctrlHeld) + " shift " + std::to_string(h->shiftHeld));
  const StudyInput* in0 = h->inputSlot(h, 0);
  const StudyInput* in1 = h->inputSlot(h, 1);
  const StudyInput* in2 = h->inputSlot(h, 2);
  log(h, "inputs " + std::to_string(in0->integerValue) + " " + std::to_string(in1->integerValue) + " [" + in2->text + "]");
  h->setInputText(h, 2, ("call " + std::to_string(calls)).c_str());
  // With Flag off the call reads no fills, as the study's calls between polls.
  for (int32_t i = 0; in0->integerValue != 0 && i < h->fillTotal(h); ++i) {
    HostFillRecord f{};
    if (!h->fillRecord(h, i, &f)) {
      log(h, "fill " + std::to_string(i) + " loading");
      continue;
    }
    char buf[512];
    std::snprintf(buf, sizeof buf, "fill %d %s %s sim=%d order=%" PRIu64 " side=%d qty=%g price=%g exec=%s local=%s utc=%s", i,
                  f.tradeAccount, f.symbol, f.simulated, f.internalOrderId, f.side, f.quantity, f.price,
                  f.serviceExecutionId, timeText(f.fillTime).c_str(),
                  timeText(h->shiftTimeZone(h, f.fillTime, "UTC+00")).c_str());
    log(h, buf);
    if (std::string(f.note) == "record") writeRecord(h, i);
    if (std::string(f.note) == "capture") {
      const std::string path = std::string(h->dataFolder(h)) + "\\probe-" + std::to_string(i) + ".png";
      log(h, "capture " + std::to_string(h->captureChartImage(h, h->chartId, path.c_str(), 0, 0, 0)));
    }
  }
  HostOrderRecord o{};
  for (int32_t i = 0; h->orderRecord(h, i, &o) != -1; ++i) {
    char buf[256];
    std::snprintf(buf, sizeof buf, "order %" PRIu64 " %s side=%d p1=%g status=%d parent=%" PRIu64 " stop=%" PRIu64 " target=%" PRIu64 " oco=%" PRIu64,
                  o.internalOrderId, o.orderType, o.side, o.price1, o.statusCode, o.parentInternalOrderId,
                  o.stopChildInternalOrderId, o.targetChildInternalOrderId, o.ocoSiblingInternalOrderId);
    log(h, buf);
  }
  HostSymbolDetails d{};
  if (h->symbolDetails(h, h->tradeSymbolText, &d, 0)) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "details tick=%g value=%g", d.tickSize, d.currencyValuePerTick);
    log(h, buf);
  }
}
