// The host's per-call study interface, as this library sees it.
//
// The host fills one StudyHost before every call of the study function and
// keeps it alive for the duration of that call. Everything that crosses the
// DLL boundary is a plain C type: fixed-width integers, doubles, NUL-terminated
// byte strings in the host's code page, and function pointers that take the
// StudyHost back. No C++ library type, exception or virtual table crosses it,
// so a host built with another compiler can drive the study.
//
// Texts returned by the host stay valid until the end of the call, or until
// the next call of the same host function, whichever comes first. A null text
// pointer reads as "". Optional host functions may be null; the study tests
// for that where the host may not offer them.
#ifndef QB_STUDY_STUDY_HOST_H
#define QB_STUDY_STUDY_HOST_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Microseconds since 1899-12-30 00:00; 0 means unset. */
typedef int64_t HostDateTime;

#define QB_STUDY_HOST_VERSION 1

typedef enum StudyInputKind {
  QB_INPUT_YES_NO = 1,
  QB_INPUT_INTEGER = 2,
  QB_INPUT_TEXT = 3
} StudyInputKind;

/* One study input as the host stores it. */
typedef struct StudyInput {
  const char* label;
  int32_t kind;          /* StudyInputKind */
  int32_t integerValue;  /* yes/no (0 or 1) and integer inputs */
  int32_t minimum;       /* integer inputs; minimum > maximum means no limits */
  int32_t maximum;
  const char* text;      /* text inputs; the host reads an empty text as "Unset" */
} StudyInput;

typedef struct HostFillRecord {
  const char* symbol;
  const char* tradeAccount;
  int32_t simulated;
  uint64_t internalOrderId;
  HostDateTime fillTime;  /* chart time zone */
  int32_t side;           /* 1 buy, 2 sell */
  double quantity;
  double price;
  const char* serviceExecutionId;
  double positionQuantity;
  const char* note;
  const char* serviceOrderId;
} HostFillRecord;

typedef struct HostOrderRecord {
  uint64_t internalOrderId;
  const char* symbol;
  const char* tradeAccount;
  int32_t simulated;
  int32_t orderTypeCode;
  const char* orderType;
  const char* note;
  double quantity;
  double price1;
  double price2;
  int32_t statusCode;
  double filledQuantity;
  uint64_t parentInternalOrderId;
  uint64_t linkId;
  HostDateTime lastActivityTime;  /* chart time, as the host gives it */
  int32_t side;
  uint64_t targetChildInternalOrderId;
  uint64_t stopChildInternalOrderId;
  uint64_t ocoSiblingInternalOrderId;
} HostOrderRecord;

typedef struct HostSymbolDetails {
  double currencyValuePerTick;
  double tickSize;
  double displayPriceMultiplier;
  double strikePrice;
  double contractSize;
  HostDateTime lastTradingDate;
} HostSymbolDetails;

typedef struct StudyHost StudyHost;

struct StudyHost {
  uint32_t structSize;        /* sizeof(StudyHost) as the host was built */
  uint32_t interfaceVersion;  /* QB_STUDY_HOST_VERSION */
  void* hostContext;          /* the host's own; the study never touches it */

  /* Call kind. */
  int32_t isDefaultsCall;
  int32_t isFinalCall;

  /* Chart. */
  int32_t chartId;
  void* chartWindow;  /* HWND of the chart, or null */
  int32_t menuPick;   /* id of the chart menu entry chosen for this call, else 0 */
  int32_t keyPressed;
  uint16_t ctrlHeld;
  uint16_t shiftHeld;
  uint16_t altHeld;
  uint16_t reserved0;
  const char* accountText;
  const char* tradeSymbolText;
  const char* chartSymbolText;
  int32_t simulated;
  int32_t replaying;
  int32_t feedState;  /* 2 when market data is connected */

  /* Written by the study; read by the host after the call. */
  int32_t wantKeyEvents;
  int32_t wantModifierKeys;
  int32_t liveTradeFlag;
  int32_t updateAlways;         /* host option, set to 1 */
  int32_t receiveMenuEvents;    /* host option, set to 1 */
  int32_t keepLoadedOnHide;     /* host option, set to 1 */
  int32_t autoLoop;             /* host option, set to 0 */

  /* Identity shown in the host's study list. */
  void (*setDisplayName)(StudyHost* host, const char* text);
  void (*setDescriptionText)(StudyHost* host, const char* text);

  /* Inputs: the host owns the storage. declareInput is for the declaration call. */
  StudyInput* (*inputSlot)(StudyHost* host, int32_t index);
  void (*declareInput)(StudyHost* host, int32_t index, const char* label, int32_t kind,
                       int32_t integerDefault, int32_t minimum, int32_t maximum,
                       const char* textDefault);
  void (*setInputInteger)(StudyHost* host, int32_t index, int32_t value);
  void (*setInputText)(StudyHost* host, int32_t index, const char* text);

  /* Values kept per study between calls; they start as null, 0 and "". */
  void** (*keptPointer)(StudyHost* host, int32_t key);
  int32_t* (*keptInteger)(StudyHost* host, int32_t key);
  const char* (*keptText)(StudyHost* host, int32_t key);
  void (*setKeptText)(StudyHost* host, int32_t key, const char* text);

  /* One line in the host's message log; flag 1 marks pause reports. */
  void (*logMessage)(StudyHost* host, const char* text, int32_t flag);

  /* Chart shortcut menu. addMenuEntry returns an id > 0 on success. */
  int32_t (*addMenuEntry)(StudyHost* host, int32_t chartId, const char* label);
  void (*dropMenuEntry)(StudyHost* host, int32_t chartId, int32_t id);

  /* Host data files folder. */
  const char* (*dataFolder)(StudyHost* host);

  /* Loaded fills and orders. fillRecord returns 0 while entry i is not loaded;
     orderRecord returns -1 when there is no order i. */
  int32_t (*fillTotal)(StudyHost* host);
  int32_t (*fillRecord)(StudyHost* host, int32_t index, HostFillRecord* out);
  int32_t (*orderRecord)(StudyHost* host, int32_t index, HostOrderRecord* out);

  /* Time zones: the same instant in the named zone. */
  HostDateTime (*shiftTimeZone)(StudyHost* host, HostDateTime value, const char* zoneName);
  const char* (*chartZoneName)(StudyHost* host, int32_t chartId);

  /* Instrument. Each may be null when the host does not offer it. */
  int32_t (*securityKind)(StudyHost* host);
  const char* (*tradeServiceText)(StudyHost* host);
  int32_t (*symbolDetails)(StudyHost* host, const char* symbol, HostSymbolDetails* out, int32_t reserved);

  /* Asks the host to write a PNG of the chart at path after the chart next renders. */
  int32_t (*captureChartImage)(StudyHost* host, int32_t chartId, const char* path,
                               int32_t width, int32_t height, int32_t flags);
};

/* The study function exported by the library. */
typedef void (*StudyFunction)(StudyHost* host);

#ifdef __cplusplus
}
#endif

#endif
