#include "study/study_inputs.h"

namespace qbsync {
namespace {

struct InputDeclaration {
  const char* label;
  StudyInputKind kind;
  std::int32_t integerDefault;
  std::int32_t minimum;
  std::int32_t maximum;
  const char* textDefault;
};

// minimum > maximum declares an integer input without limits.
constexpr InputDeclaration kInputs[kInputCount] = {
    {"Allow sync (connection and Start/Pause in setup)", QB_INPUT_YES_NO, 1, 0, 1, ""},
    {"Local data folder (automatic)", QB_INPUT_TEXT, 0, 0, 0, ""},
    {"Source session ID (managed by setup)", QB_INPUT_TEXT, 0, 0, 0, ""},
    {"Allow chart replay collection", QB_INPUT_YES_NO, 0, 0, 1, ""},
    {"Allow local fallback fill IDs when service IDs absent", QB_INPUT_YES_NO, 0, 0, 1, ""},
    {"Maximum retained outbox size per scope (MiB)", QB_INPUT_INTEGER, 512, 64, 32768, ""},
    {"Maximum loaded fills to reconcile per poll", QB_INPUT_INTEGER, 20000, 100, 100000, ""},
    {"Capture available order and attached stop/target changes", QB_INPUT_YES_NO, 1, 0, 1, ""},
    {"Capture chart on fresh live fill bursts (last fill; no historical capture)", QB_INPUT_YES_NO, 0, 0, 1, ""},
    {"Manual screenshot revision (increment to capture; 0 disables)", QB_INPUT_INTEGER, 0, 1, 0, ""},
    {"Optional Sierra internal order ID for manual note/screenshot", QB_INPUT_TEXT, 0, 0, 0, ""},
    {"Manual note revision (increment to append; 0 disables)", QB_INPUT_INTEGER, 0, 1, 0, ""},
    {"Manual journal note", QB_INPUT_TEXT, 0, 0, 0, ""},
    {"Source Sierra trade account (automatic)", QB_INPUT_TEXT, 0, 0, 0, ""},
    {"Source Sierra trade symbol (automatic)", QB_INPUT_TEXT, 0, 0, 0, ""},
    {"Connection status (automatic)", QB_INPUT_TEXT, 0, 0, 0, "Connect in Quorbelle Sync setup."},
    {"Enable chart note shortcut (Ctrl+Shift+N)", QB_INPUT_YES_NO, 1, 0, 1, ""},
};

StudyInput* slot(StudyHost& host, std::int32_t index) {
  return host.inputSlot ? host.inputSlot(&host, index) : nullptr;
}

}  // namespace

void declareStudyInputs(StudyHost& host) {
  if (!host.declareInput) return;
  for (std::int32_t i = 0; i < kInputCount; ++i) {
    const InputDeclaration& d = kInputs[i];
    host.declareInput(&host, i, d.label, d.kind, d.integerDefault, d.minimum, d.maximum, d.textDefault);
  }
}

std::int32_t inputInteger(StudyHost& host, std::int32_t index) {
  const StudyInput* input = slot(host, index);
  return input ? input->integerValue : 0;
}

bool inputYes(StudyHost& host, std::int32_t index) { return inputInteger(host, index) != 0; }

const char* inputRawText(StudyHost& host, std::int32_t index) {
  const StudyInput* input = slot(host, index);
  return input && input->text ? input->text : "";
}

void setInputInteger(StudyHost& host, std::int32_t index, std::int32_t value) {
  if (host.setInputInteger) host.setInputInteger(&host, index, value);
}

void setInputText(StudyHost& host, std::int32_t index, const std::string& text) {
  if (host.setInputText) host.setInputText(&host, index, text.c_str());
}

}  // namespace qbsync
