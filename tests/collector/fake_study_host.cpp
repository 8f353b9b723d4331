#include "collector/fake_study_host.h"

namespace qbtest {
namespace {

constexpr int64_t kHostToUnixMicros = 2209161600000000LL;

FakeStudyHost& fake(StudyHost* host) { return *static_cast<FakeStudyHost*>(host->hostContext); }

int32_t onFillTotal(StudyHost* host) { return static_cast<int32_t>(fake(host).fills.size()); }

int32_t onFillRecord(StudyHost* host, int32_t index, HostFillRecord* out) {
  FakeStudyHost& f = fake(host);
  ++f.fillReads;
  if (index < 0 || index >= static_cast<int32_t>(f.fills.size()) || f.loading.count(index) != 0) return 0;
  const FakeFill& fill = f.fills[static_cast<std::size_t>(index)];
  // Overwrites the texts of the previous call, as the host may.
  f.fillScratch[0] = fill.symbol;
  f.fillScratch[1] = fill.account;
  f.fillScratch[2] = fill.serviceExecutionId;
  f.fillScratch[3] = fill.note;
  f.fillScratch[4] = fill.serviceOrderId;
  out->symbol = f.fillScratch[0].c_str();
  out->tradeAccount = f.fillScratch[1].c_str();
  out->simulated = fill.simulated;
  out->internalOrderId = fill.internalOrderId;
  out->fillTime = fill.fillTime;
  out->side = fill.side;
  out->quantity = fill.quantity;
  out->price = fill.price;
  out->serviceExecutionId = f.fillScratch[2].c_str();
  out->positionQuantity = fill.positionQuantity;
  out->note = f.fillScratch[3].c_str();
  out->serviceOrderId = f.fillScratch[4].c_str();
  if (f.onFillRead) f.onFillRead(index);
  return 1;
}

HostDateTime onShiftTimeZone(StudyHost* host, HostDateTime value, const char* zone) {
  FakeStudyHost& f = fake(host);
  f.zonesAsked.push_back(zone ? zone : "");
  return value == 0 ? 0 : value + f.chartToUtcMicros;
}

const char* onChartZoneName(StudyHost* host, int32_t) {
  FakeStudyHost& f = fake(host);
  f.textScratch = f.zoneName;
  return f.textScratch.c_str();
}

int32_t onSecurityKind(StudyHost* host) { return fake(host).securityKind; }

const char* onTradeServiceText(StudyHost* host) {
  FakeStudyHost& f = fake(host);
  f.textScratch = f.tradeService.value_or("");
  return f.textScratch.c_str();
}

int32_t onSymbolDetails(StudyHost* host, const char* symbol, HostSymbolDetails* out, int32_t) {
  FakeStudyHost& f = fake(host);
  f.detailsAsked.push_back(symbol ? symbol : "<null>");
  *out = f.details;
  return 1;
}

}  // namespace

FakeStudyHost::FakeStudyHost() {
  host_.structSize = sizeof(StudyHost);
  host_.interfaceVersion = QB_STUDY_HOST_VERSION;
  host_.hostContext = this;
  host_.chartId = 3;
  host_.feedState = 2;
  host_.simulated = 1;
  host_.fillTotal = onFillTotal;
  host_.fillRecord = onFillRecord;
  host_.shiftTimeZone = onShiftTimeZone;
  host_.chartZoneName = onChartZoneName;
  refresh();
}

void FakeStudyHost::refresh() {
  host_.accountText = account.c_str();
  host_.tradeSymbolText = tradeSymbol.c_str();
  host_.chartSymbolText = chartSymbol.c_str();
  host_.securityKind = offerSecurityKind ? onSecurityKind : nullptr;
  host_.tradeServiceText = tradeService ? onTradeServiceText : nullptr;
  host_.symbolDetails = offerSymbolDetails ? onSymbolDetails : nullptr;
}

HostDateTime chartTimeOfUnixMicros(const FakeStudyHost& fake, int64_t unixMicros) {
  return unixMicros + kHostToUnixMicros - fake.chartToUtcMicros;
}

}  // namespace qbtest
