#include "instruments/symbol_classification.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace qbsync {
namespace {

TEST(IsUnsupportedSymbol, RecognisesCryptoForexAndCfdSymbols) {
  struct Case {
    const char* name;
    const char* symbol;
    bool unsupported;
  };
  const Case cases[] = {
      {"stablecoin pair in lower case", "btcusdt", true},
      {"forex pair with surrounding spaces", " EURUSD ", true},
      {"exchange prefix", "BINANCE:BTCUSDT", true},
      {"exchange as suffix", "XBTUSD.BITMEX", true},
      {"exchange word inside a longer word", "KRAKENX", false},
      {"product word", "ES-CFD", true},
      {"perpetual word", "ETH PERP", true},
      {"crypto pair with slash", "ETH/USD", true},
      {"crypto pair followed by letters", "BTCUSDX", false},
      {"stablecoin pair with slash", "ABC/USDC", true},
      {"metal pair", "XAUUSD", true},
      {"currency pair with separator", "USD_JPY", true},
      {"currency pair", "USDJPY", true},
      {"dollar index", "USDX", false},
      {"index CFD name with suffix", "NAS100.cash", true},
      {"index CFD name alone", "GER40", true},
      {"index CFD name in lower case", "us500", true},
      {"longer than an index CFD name", "NAS1000", false},
      {"futures contract", "ESZ25", false},
      {"futures contract with exchange suffix", "ESZ25_FUT_CME", false},
      {"stock", "AAPL", false},
      {"empty", "", false},
      {"only spaces", "   ", false},
      // Only the space character is trimmed: a tab keeps the pair from
      // starting at the beginning of the text.
      {"leading tab is not trimmed", "\tEURUSD", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(isUnsupportedSymbol(c.symbol), c.unsupported) << c.symbol;
  }
}

TEST(IsUnsupportedSymbol, SharedPatternsServeConcurrentCallers) {
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &wrong] {
      for (int i = 0; i < 200; ++i) {
        if (!isUnsupportedSymbol("BINANCE:BTCUSDT") || isUnsupportedSymbol("ESZ25")) ++wrong[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

TEST(NormalizeFutureContract, CanonicalisesEveryNotation) {
  struct Case {
    const char* name;
    const char* text;
    const char* contract;
  };
  const Case cases[] = {
      {"month code, two-digit year", "ESZ25", "ES 12-25"},
      {"month code, four-digit year", "ESZ2025", "ES 12-25"},
      {"month name", "ES DEC25", "ES 12-25"},
      {"month name, four-digit year", "ES JAN2026", "ES 01-26"},
      {"numeric month", "ES 12-25", "ES 12-25"},
      {"numeric month, four-digit year", "ES 12-2025", "ES 12-25"},
      {"exchange suffix", "ESZ25.FUT", "ES 12-25"},
      {"January code", "CLF26", "CL 01-26"},
      {"digit root", "6EH26", "6E 03-26"},
      // The root may itself end in a month-code letter.
      {"root ending in a code letter", "ZNZ25", "ZN 12-25"},
      {"root ending in code letters", "MNQH26", "MNQ 03-26"},
      {"eight-character root", "ABCDEFGHZ25", "ABCDEFGH 12-25"},
      {"nine-character root", "ABCDEFGHIZ25", ""},
      {"one-digit year", "ESZ5", ""},
      {"other century", "ESZ2125", ""},
      {"lower case", "esz25", ""},
      {"month 13", "ES 13-25", ""},
      {"month 00", "ES 00-25", ""},
      {"one-digit numeric month", "ES 1-25", ""},
      {"lower-case month name", "ES Dec25", ""},
      {"suffix in lower case", "ESZ25.fut", ""},
      {"suffix alone is not stripped", ".FUT", ""},
      {"suffix twice", "ESZ25.FUT.FUT", ""},
      {"trailing text", "ESZ25X", ""},
      {"empty", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(normalizeFutureContract(c.text), c.contract) << c.text;
  }
}

TEST(ClassifySourceInstrument, DerivesAssetTypeAndContract) {
  struct Case {
    const char* name;
    const char* source;
    const char* detected;
    const char* asset_type;
    const char* api_symbol;
  };
  const Case cases[] = {
      {"host future symbol", "ESZ25_FUT_CME", "", "future", "ES 12-25"},
      {"plain contract", "ESZ25", "", "future", "ES 12-25"},
      {"detected future", "NQH26_FUT_CME", "future", "future", "NQ 03-26"},
      {"one-digit year", "ESZ5", "", "future", ""},
      {"crypto", "BTCUSD", "", "future", ""},
      {"crypto detected as stock", "BTCUSD", "stock", "stock", ""},
      {"stock class share", "BRK.B", "stock", "stock", "BRK.B"},
      {"stock ticker", "AAPL", "stock", "stock", "AAPL"},
      {"stock with digit", "AAPL1", "stock", "stock", ""},
      {"stock ticker too long", "ABCDEFG", "stock", "stock", ""},
      {"option", "ESZ25", "option", "future", ""},
      {"detected type compared exactly", "ESZ25", "Future", "future", ""},
      {"suffix only removed at the end", "ESZ25_FUT_CME.X", "", "future", ""},
      {"empty symbol", "", "", "future", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const InstrumentClass result = classifySourceInstrument(c.source, c.detected);
    EXPECT_EQ(result.asset_type, c.asset_type);
    EXPECT_EQ(result.api_symbol, c.api_symbol);
  }
}

TEST(FutureSymbolHelpers, StripSuffixAndRecogniseShortForms) {
  EXPECT_EQ(stripFutureSuffix("ESZ5_FUT_CME"), "ESZ5");
  EXPECT_EQ(stripFutureSuffix("ESZ5_FUT_CME_X1"), "ESZ5");
  EXPECT_EQ(stripFutureSuffix("ESZ5_FUT_cme"), "ESZ5_FUT_cme");
  EXPECT_EQ(stripFutureSuffix("ESZ5"), "ESZ5");
  EXPECT_TRUE(isOneDigitYearContract("ESZ5"));
  EXPECT_FALSE(isOneDigitYearContract("ESZ25"));
  EXPECT_FALSE(isOneDigitYearContract("esz5"));
  EXPECT_EQ(monthCodeLetter(1), 'F');
  EXPECT_EQ(monthCodeLetter(12), 'Z');
  EXPECT_EQ(monthCodeLetter(0), '\0');
  EXPECT_EQ(monthCodeLetter(13), '\0');
}

}  // namespace
}  // namespace qbsync
