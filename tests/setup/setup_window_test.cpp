// The setup window itself: its thread, owner, layouts, show, hide and close,
// with real windows on wine's null graphics driver.
#include "setup/setup_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

#include "setup/setup_window_driver.h"

namespace {

using qbtest::Driver;
using qbtest::FakeController;
using qbtest::OwnerWindow;
using Clock = std::chrono::steady_clock;

long height(const RECT& r) { return r.bottom - r.top; }
long width(const RECT& r) { return r.right - r.left; }

qbnative::SetupValues emptySetup() { return qbnative::SetupValues{}; }

TEST(SetupWindow, CreatedHiddenOwnedByTheChartRootWithTheSavedSetupFilledIn) {
  OwnerWindow chart;
  FakeController fake;
  qbnative::SetupWindow window("SIM1 | ESZ5 | SIMULATION", qbtest::savedSetup(), fake.callbacks(), chart.child());
  Driver d(window);
  ASSERT_TRUE(d.waitCreated());
  EXPECT_EQ(GetWindow(d.hwnd(), GW_OWNER), chart.root());
  EXPECT_FALSE(d.windowVisible());
  EXPECT_EQ(d.caption(), "Quorbelle Sync setup");
  EXPECT_EQ(d.text(121), "Connect this chart to Quorbelle");
  EXPECT_EQ(d.status(), "Ready to connect.");
  EXPECT_EQ(d.text(100), "trader@example.com");
  EXPECT_EQ(d.text(101), "s3cret-key");
  EXPECT_EQ(d.text(114), "session-1");
  EXPECT_NE(GetWindowLongW(d.ctl(101), GWL_STYLE) & ES_PASSWORD, 0);
  ASSERT_EQ(d.entries(), 1);
  EXPECT_EQ(d.entry(0), "Main (saved)");
  EXPECT_EQ(d.selection(), 0);
  EXPECT_TRUE(d.enabled(111));
  EXPECT_TRUE(d.checked(106));
  EXPECT_FALSE(d.checked(118));
  EXPECT_EQ(fake.checkCount(), 0u);  // nothing runs before the window is shown
  EXPECT_EQ(window.failureText(), "");
}

TEST(SetupWindow, ControlsCarryTheirStylesLimitsAndFont) {
  OwnerWindow chart;
  FakeController fake;
  qbnative::SetupWindow window("A | B | LIVE", emptySetup(), fake.callbacks(), chart.root());
  Driver d(window);
  ASSERT_TRUE(d.waitCreated());
  struct Case {
    int id;
    LONG style;         // bits that must be set
    bool clientEdge;    // exactly the edit controls
    LRESULT limit;      // EM_GETLIMITTEXT, 0 when not an edit
  };
  const Case cases[] = {
      {100, WS_TABSTOP | ES_AUTOHSCROLL, true, 254},
      {101, WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, true, 2048},
      {108, WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, true, 12000},
      {114, WS_TABSTOP | ES_AUTOHSCROLL, true, 0},
      {103, WS_TABSTOP | CBS_DROPDOWNLIST, false, 0},  // the combo box hands WS_VSCROLL to its list
      {111, WS_TABSTOP | BS_DEFPUSHBUTTON, false, 0},
      {118, WS_TABSTOP | BS_AUTOCHECKBOX, false, 0},
      {113, 0, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const LONG style = GetWindowLongW(d.ctl(c.id), GWL_STYLE);
    EXPECT_EQ(style & (c.style | WS_CHILD), c.style | WS_CHILD);
    EXPECT_EQ((GetWindowLongW(d.ctl(c.id), GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0, c.clientEdge);
    if (c.limit) {
      EXPECT_EQ(SendMessageW(d.ctl(c.id), EM_GETLIMITTEXT, 0, 0), c.limit);
    }
    LOGFONTW font{};
    ASSERT_NE(GetObjectW(reinterpret_cast<HFONT>(SendMessageW(d.ctl(c.id), WM_GETFONT, 0, 0)), sizeof(font), &font),
              0);
    EXPECT_STREQ(font.lfFaceName, L"Segoe UI");
    EXPECT_EQ(font.lfHeight, -15);
  }
}

TEST(SetupWindow, LayoutsOfBothModes) {
  OwnerWindow chart;
  FakeController fake;
  qbnative::SetupWindow window("SIM1 | ESZ5 | LIVE", emptySetup(), fake.callbacks(), chart.root());
  Driver d(window);
  ASSERT_TRUE(d.waitCreated());
  EXPECT_FALSE(d.enabled(111));  // no account saved yet

  // Setup mode, basic options.
  EXPECT_EQ(width(d.clientRect()), 638);
  EXPECT_EQ(height(d.clientRect()), 385 + 124 + 54);
  EXPECT_EQ(d.controlRect(113).top, 385);
  EXPECT_EQ(d.controlRect(111).top, 509);
  EXPECT_TRUE(d.visible(106));
  EXPECT_TRUE(d.visible(107));
  EXPECT_FALSE(d.visible(114));
  EXPECT_FALSE(d.visible(108));
  EXPECT_FALSE(d.visible(122));  // journal tools are not ready

  // Advanced options replace the note and capture boxes and grow the window by 50.
  d.click(118);
  EXPECT_TRUE(d.checked(118));
  EXPECT_EQ(height(d.clientRect()), 385 + 124 + 54 + 50);
  EXPECT_EQ(d.controlRect(113).top, 435);
  EXPECT_TRUE(d.visible(114));
  EXPECT_TRUE(d.visible(116));
  EXPECT_TRUE(d.visible(117));
  EXPECT_FALSE(d.visible(106));
  EXPECT_FALSE(d.visible(107));

  // Journal-note mode without ready tools: heading, source, status, two buttons.
  window.requestShow(true);
  ASSERT_TRUE(d.waitStatus("Connect this chart in Connection settings before adding notes."));
  EXPECT_TRUE(d.windowVisible());
  EXPECT_EQ(d.caption(), "Quorbelle Journal note");
  EXPECT_EQ(d.text(121), "Add a journal note");
  EXPECT_EQ(d.text(122), "Connection settings");
  EXPECT_EQ(height(d.clientRect()), 244);
  EXPECT_EQ(d.controlRect(113).top, 100);
  EXPECT_EQ(width(d.controlRect(122)), 180);
  for (int id : {121, 113, 122, 115}) EXPECT_TRUE(d.visible(id)) << id;
  for (int id : {100, 101, 102, 103, 106, 114, 108, 109, 110, 111, 112, 118}) EXPECT_FALSE(d.visible(id)) << id;

  // Back to setup mode through the same button.
  d.click(122);
  EXPECT_EQ(d.caption(), "Quorbelle Sync setup");
  EXPECT_TRUE(d.visible(100));
  EXPECT_EQ(height(d.clientRect()), 435 + 124 + 54);
}

TEST(SetupWindow, ShowAndCloseRequestedBeforeTheWindowExists) {
  OwnerWindow chart;
  FakeController fake;
  {
    qbnative::SetupWindow window("A | B | LIVE", emptySetup(), fake.callbacks(), chart.root());
    window.requestShow(false);
    Driver d(window);
    EXPECT_TRUE(qbtest::pumpUntil([&] { return d.hwnd() && d.windowVisible(); }));
  }
  qbnative::SetupWindow closed("A | B | LIVE", emptySetup(), fake.callbacks(), chart.root());
  closed.closeWindow();
  EXPECT_EQ(closed.windowHandle(), nullptr);
  EXPECT_EQ(closed.failureText(), "");
  closed.requestShow(false);  // does nothing once destroyed
  closed.closeWindow();       // and closing twice is harmless
}

TEST(SetupWindow, EscapeCloseAndTheCaptionButtonOnlyHide) {
  OwnerWindow chart;
  FakeController fake;
  fake.discovery_gate.hold();
  qbnative::SetupWindow window("A | B | LIVE", emptySetup(), fake.callbacks(), chart.root());
  Driver d(window);
  window.requestShow(false);
  ASSERT_TRUE(qbtest::pumpUntil([&] { return d.hwnd() && d.windowVisible(); }));

  // Escape in an edit hides the window and cancels the running account load.
  d.type(100, "trader@example.com");
  d.type(101, "key");
  d.click(102);
  ASSERT_TRUE(qbtest::pumpUntil([&] { return fake.discovery_gate.entered(); }));
  PostMessageW(d.ctl(100), WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_TRUE(qbtest::pumpUntil([&] { return !d.windowVisible(); }));
  EXPECT_TRUE(qbtest::pumpUntil([&] { return fake.discovery_gate.sawCancel(); }));
  EXPECT_TRUE(qbtest::pumpUntil([&] { return d.enabled(102); }));  // the load ended

  for (int way = 0; way < 2; ++way) {
    SCOPED_TRACE(way == 0 ? "Close button" : "caption close");
    window.requestShow(false);
    ASSERT_TRUE(qbtest::pumpUntil([&] { return d.windowVisible(); }));
    if (way == 0) d.click(115);
    else SendMessageW(d.hwnd(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(d.windowVisible());
    EXPECT_NE(window.windowHandle(), nullptr);
  }
}

TEST(SetupWindow, ChartCallsReturnPromptlyWhileTheWindowThreadIsBusy) {
  OwnerWindow chart;
  FakeController fake;
  qbnative::SetupValues saved = qbtest::savedSetup();
  saved.session_id.clear();  // no automatic check on show, so the pause text stays
  qbnative::SetupWindow window("A | B | LIVE", saved, fake.callbacks(), chart.root());
  Driver d(window);
  ASSERT_TRUE(d.waitCreated());
  fake.apply_gate.hold();
  // A failed assertion below leaves the test with the window thread blocked in
  // the gate; open it before the window is closed, or the close waits forever.
  struct ReleaseOnExit {
    qbtest::Gate& gate;
    ~ReleaseOnExit() { gate.release(); }
  } release_on_exit{fake.apply_gate};
  // Pause runs applySetup on the window thread, which now blocks there.
  PostMessageW(d.hwnd(), WM_COMMAND, MAKEWPARAM(112, BN_CLICKED), reinterpret_cast<LPARAM>(d.ctl(112)));
  ASSERT_TRUE(qbtest::pumpUntil([&] { return fake.apply_gate.entered(); }));

  // A chart call that waited on the window thread would never return while
  // the gate is held; the watchdog opens it after a while so such a fault
  // fails the test instead of hanging it.
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> forced{false};
  std::thread watchdog([&] {
    if (WaitForSingleObject(done, 10000) != WAIT_OBJECT_0) {
      forced = true;
      fake.apply_gate.release();
    }
  });
  for (int i = 0; i < 20; ++i) {
    window.requestShow(i % 2 == 0);
    EXPECT_NE(window.windowHandle(), nullptr);
    EXPECT_EQ(window.failureText(), "");
  }
  SetEvent(done);
  watchdog.join();
  CloseHandle(done);
  EXPECT_FALSE(forced.load());
  EXPECT_EQ(fake.applyCount(), 0u);  // still blocked while the calls ran

  fake.apply_gate.release();
  EXPECT_TRUE(d.waitStatus("Sync paused. Saved local records are retained."));
  EXPECT_TRUE(qbtest::pumpUntil([&] { return d.windowVisible(); }));
}

TEST(SetupWindow, ClosingDuringASlowAccountLoadCancelsItAndJoinsEveryThread) {
  OwnerWindow chart;
  FakeController fake;
  fake.discovery_gate.hold();  // opens only on cancel
  qbnative::SetupWindow window("A | B | LIVE", emptySetup(), fake.callbacks(), chart.root());
  Driver d(window);
  ASSERT_TRUE(d.waitCreated());
  d.type(100, "trader@example.com");
  d.type(101, "key");
  d.click(102);
  ASSERT_TRUE(qbtest::pumpUntil([&] { return fake.discovery_gate.entered(); }));
  EXPECT_EQ(d.status(), "Loading your Quorbelle accounts...");
  const auto start = Clock::now();
  window.closeWindow();
  // The gate opens only on cancel, so a close that did not cancel never returns.
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(fake.discovery_gate.sawCancel());
  EXPECT_EQ(window.windowHandle(), nullptr);
}

// Destroying an active owned window activates the owner on this thread; a
// close that waited without answering those messages hung here.
TEST(SetupWindow, ClosingWhileActiveAndFocusedReturns) {
  OwnerWindow chart;
  FakeController fake;
  qbnative::SetupWindow window("A | B | LIVE", emptySetup(), fake.callbacks(), chart.root());
  Driver d(window);
  window.requestShow(false);
  ASSERT_TRUE(qbtest::pumpUntil([&] { return d.hwnd() && d.windowVisible(); }));
  SetForegroundWindow(d.hwnd());
  d.click(102);  // gives the Load accounts button the focus (and reports missing credentials)
  EXPECT_EQ(d.status(), "Enter your Quorbelle email and account secret key.");
  const auto start = Clock::now();
  window.closeWindow();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(window.windowHandle(), nullptr);
  EXPECT_TRUE(IsWindow(chart.root()));
}

TEST(SetupWindow, ClosingTheChartDestroysTheWindowWithinTheTimerTick) {
  auto chart = std::make_unique<OwnerWindow>();
  FakeController fake;
  qbnative::SetupWindow window("A | B | LIVE", emptySetup(), fake.callbacks(), chart->root());
  Driver d(window);
  window.requestShow(false);
  ASSERT_TRUE(qbtest::pumpUntil([&] { return d.hwnd() && d.windowVisible(); }));
  chart.reset();
  // Timer 1 ticks every second; allow for a late tick on a loaded machine.
  EXPECT_TRUE(qbtest::pumpUntil([&] { return window.windowHandle() == nullptr; }, 3000));
  window.closeWindow();
}

TEST(SetupWindow, StartFailuresBecomeTheFailureText) {
  OwnerWindow chart;
  FakeController fake;
  // A source line that is not UTF-8 cannot be shown.
  qbnative::SetupWindow window("ACC\xff | B | LIVE", emptySetup(), fake.callbacks(), chart.root());
  EXPECT_TRUE(qbtest::pumpUntil([&] { return !window.failureText().empty(); }));
  EXPECT_EQ(window.failureText(), "Invalid UTF-8 in setup text.");
  // The failure is published only after the window is gone: under load a
  // handle was once seen beside it.
  EXPECT_EQ(window.windowHandle(), nullptr);
  window.requestShow(false);
  window.closeWindow();

  // Without an owner window the window still opens.
  qbnative::SetupWindow ownerless("A | B | LIVE", emptySetup(), fake.callbacks(), nullptr);
  Driver d(ownerless);
  ASSERT_TRUE(d.waitCreated());
  EXPECT_EQ(GetWindow(d.hwnd(), GW_OWNER), nullptr);
}

TEST(SetupWindow, ClosingFromTheWindowThreadIsRefused) {
  OwnerWindow chart;
  FakeController fake;
  std::atomic<qbnative::SetupWindow*> self{nullptr};
  std::atomic<int> refused{0};
  fake.on_status = [&] {
    if (qbnative::SetupWindow* w = self.load()) {
      try {
        w->closeWindow();
      } catch (const std::system_error& e) {
        if (e.code() == std::errc::resource_deadlock_would_occur) refused = 1;
      }
    }
  };
  qbnative::SetupWindow window("A | B | LIVE", emptySetup(), fake.callbacks(), chart.root());
  self = &window;
  EXPECT_TRUE(qbtest::pumpUntil([&] { return refused.load() == 1; }, 3000));  // the status tick calls back
  self = nullptr;
}

}  // namespace
