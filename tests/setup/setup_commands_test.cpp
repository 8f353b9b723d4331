// The setup workflow behind the window's controls: Load accounts, the
// connection check, Start and Pause, journal notes and captures, driven with
// window messages against recording controller callbacks.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "setup/setup_window.h"
#include "setup/setup_window_driver.h"

namespace {

using qbtest::account;
using qbtest::Driver;
using qbtest::FakeController;
using qbtest::kAccountA;
using qbtest::kAccountB;
using qbtest::OwnerWindow;
using qbtest::pumpUntil;

constexpr char kEmail[] = "tr\xC3\xA4" "der@example.com";  // typed as is, non-ASCII included
constexpr char kSecret[] = "k3y with spaces";
constexpr char kSessionIdLength[] = "Session ID must contain 1\xE2\x80\x93" "128 bytes.";

// One window, shown in setup mode, with nothing saved.
struct Fixture {
  OwnerWindow chart;
  FakeController fake;
  std::unique_ptr<qbnative::SetupWindow> window;
  std::unique_ptr<Driver> d;

  explicit Fixture(qbnative::SetupValues initial = {}, bool show = true,
                   const std::function<void(FakeController&)>& prepare = {}) {
    if (prepare) prepare(fake);
    window = std::make_unique<qbnative::SetupWindow>("SIM1 | ESZ5 | SIMULATION", std::move(initial),
                                                     fake.callbacks(), chart.root());
    d = std::make_unique<Driver>(*window);
    EXPECT_TRUE(d->waitCreated());
    if (show) {
      window->requestShow(false);
      EXPECT_TRUE(pumpUntil([&] { return d->windowVisible(); }));
    }
  }
  ~Fixture() { window->closeWindow(); }

  void loadAccounts(std::vector<qbnative::SetupAccount> accounts) {
    fake.accounts = std::move(accounts);
    d->type(100, kEmail);
    d->type(101, kSecret);
    d->click(102);
  }
};

TEST(SetupCommands, LoadAccountsResults) {
  struct Case {
    const char* name;
    std::vector<qbnative::SetupAccount> accounts;
    std::string error;
    bool throwsOther;
    std::string status;
    int selection;
    bool startEnabled;
  };
  const std::vector<Case> cases = {
      {"one account is chosen for the trader", {account(kAccountA, "Main")}, "", false,
       "Choose the destination account, then select Start sync.", 0, true},
      {"several accounts, none chosen", {account(kAccountA, "Main"), account(kAccountB, "Prop \xE2\x9C\x93")}, "",
       false, "Choose the destination account, then select Start sync.", -1, true},
      {"no accounts", {}, "", false,
       "No trading accounts were returned. Add a trading account in Quorbelle, then load again.", -1, false},
      {"service refusal text", {}, "The account secret key was not accepted.", false,
       "The account secret key was not accepted.", -1, false},
      {"legacy code through its message", {}, "LEGACY_IMPORT_REQUIRES_RECONCILIATION", false,
       "Saved legacy import needs reconciliation; records retained.", -1, false},
      {"failure that is not a standard exception", {}, "", true,
       "Could not load accounts. Check the connection and try again.", -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    f.fake.discovery_error = c.error;
    f.fake.discovery_throws_other = c.throwsOther;
    f.loadAccounts(c.accounts);
    ASSERT_TRUE(f.d->waitStatus(c.status)) << f.d->status();
    ASSERT_EQ(f.fake.discoveries.size(), 1u);
    EXPECT_EQ(f.fake.discoveries[0].first, kEmail);
    EXPECT_EQ(f.fake.discoveries[0].second, kSecret);
    EXPECT_EQ(f.d->entries(), static_cast<int>(c.accounts.size()));
    if (c.accounts.size() == 2) {
      EXPECT_EQ(f.d->entry(1), "Prop \xE2\x9C\x93");
    }
    EXPECT_EQ(f.d->selection(), c.selection);
    EXPECT_EQ(f.d->enabled(111), c.startEnabled);
    EXPECT_TRUE(f.d->enabled(102));
  }
}

TEST(SetupCommands, LoadAccountsRefusals) {
  Fixture f;
  f.d->type(100, kEmail);
  f.d->click(102);
  EXPECT_EQ(f.d->status(), "Enter your Quorbelle email and account secret key.");
  EXPECT_TRUE(f.fake.discoveries.empty());

  OwnerWindow chart;
  qbnative::SetupCallbacks none;
  qbnative::SetupWindow bare("A | B | LIVE", {}, none, chart.root());
  Driver d(bare);
  ASSERT_TRUE(d.waitCreated());
  d.type(100, kEmail);
  d.type(101, kSecret);
  d.click(102);
  EXPECT_EQ(d.status(), "Account discovery is unavailable.");
  EXPECT_TRUE(d.enabled(102));
}

TEST(SetupCommands, A_SavedAccountStaysChosenAfterLoading) {
  qbnative::SetupValues saved;
  saved.account_id = kAccountB;
  saved.account_name = "Prop";
  Fixture f(saved);
  f.loadAccounts({account(kAccountA, "Main"), account(kAccountB, "Prop")});
  ASSERT_TRUE(f.d->waitStatus("Choose the destination account, then select Start sync."));
  EXPECT_EQ(f.d->entries(), 2);  // the "(saved)" entry is replaced
  EXPECT_EQ(f.d->selection(), 1);
}

TEST(SetupCommands, CredentialsEditedWhileLoadingDisableStart) {
  Fixture f;
  f.fake.discovery_gate.hold();
  f.loadAccounts({account(kAccountA, "Main")});
  ASSERT_TRUE(pumpUntil([&] { return f.fake.discovery_gate.entered(); }));
  EXPECT_FALSE(f.d->enabled(102));
  EXPECT_FALSE(f.d->enabled(111));
  f.d->type(101, std::string(kSecret) + "x");
  f.fake.discovery_gate.release();
  ASSERT_TRUE(f.d->waitStatus("Credentials changed while accounts were loading. Load accounts again."));
  EXPECT_FALSE(f.d->enabled(111));
  EXPECT_TRUE(f.d->enabled(102));
}

TEST(SetupCommands, StartSyncChecksTheFormThenSavesIt) {
  Fixture f;
  f.loadAccounts({account(kAccountA, "Main")});
  ASSERT_TRUE(f.d->waitStatus("Choose the destination account, then select Start sync."));
  // Only now, so a status tick cannot replace the text waited for above.
  f.fake.setStatus("Starting sync...");

  // The window refuses a missing or overlong session id before any request.
  f.d->click(111);
  EXPECT_EQ(f.d->status(), kSessionIdLength);
  f.d->click(118);
  f.d->type(114, std::string(129, 's'));
  f.d->click(111);
  EXPECT_EQ(f.d->status(), kSessionIdLength);
  EXPECT_EQ(f.fake.checkCount(), 0u);

  f.d->type(114, std::string(128, 's'));
  f.d->click(117);
  f.fake.check_gate.hold();  // so the progress text is still up when read
  f.d->click(111);
  EXPECT_EQ(f.d->status(), "Checking the Quorbelle sync connection...");
  f.fake.check_gate.release();
  ASSERT_TRUE(f.d->waitStatus("Starting sync..."));  // the controller's status after a save
  ASSERT_EQ(f.fake.checkCount(), 1u);
  ASSERT_EQ(f.fake.applyCount(), 1u);
  for (const qbnative::SetupValues& v : {f.fake.checks[0], f.fake.applies[0]}) {
    EXPECT_EQ(v.email, kEmail);
    EXPECT_EQ(v.secret, kSecret);
    EXPECT_EQ(v.account_id, kAccountA);
    EXPECT_EQ(v.account_name, "Main");
    EXPECT_EQ(v.session_id, std::string(128, 's'));
    EXPECT_TRUE(v.enabled);
    EXPECT_TRUE(v.sync_notes);
    EXPECT_FALSE(v.capture_screenshots);
    EXPECT_FALSE(v.allow_replay);
    EXPECT_TRUE(v.allow_local_fill_ids);
  }
  EXPECT_TRUE(f.d->visible(122));  // journal tools are ready
  EXPECT_EQ(f.d->text(122), "Open journal");
}

TEST(SetupCommands, StartSyncRefusesAFormThatDoesNotMatchTheLoadedAccounts) {
  Fixture f;
  f.loadAccounts({account(kAccountA, "Main"), account(kAccountB, "Prop")});
  ASSERT_TRUE(f.d->waitStatus("Choose the destination account, then select Start sync."));
  f.d->command(111);
  EXPECT_EQ(f.d->status(), "Load your accounts and choose a destination first.");
  f.d->choose(1);
  f.d->type(100, "other@example.com");
  EXPECT_FALSE(f.d->enabled(111));
  f.d->command(111);
  EXPECT_EQ(f.d->status(), "Credentials changed. Load accounts again before starting sync.");
  EXPECT_EQ(f.fake.checkCount(), 0u);
}

TEST(SetupCommands, CheckFailureIsShownAndNothingIsSaved) {
  qbnative::SetupValues saved = qbtest::savedSetup();
  Fixture f(saved, false);
  f.fake.check_error = "CONNECTION_CHECK_REQUIRED";
  f.d->command(111);
  ASSERT_TRUE(f.d->waitStatus("CONNECTION_CHECK_REQUIRED"));
  EXPECT_EQ(f.fake.applyCount(), 0u);
  EXPECT_FALSE(f.d->visible(122));
  // The error stays through the controller's status ticks.
  f.fake.setStatus("Sync is running.");
  EXPECT_FALSE(pumpUntil([&] { return f.d->status() != "CONNECTION_CHECK_REQUIRED"; }, 1300));

  // Start after a successful automatic check checks again and saves only on success.
  Fixture g(saved);
  ASSERT_TRUE(g.d->waitStatus("Connection verified. Journal tools are ready."));
  EXPECT_TRUE(g.d->visible(122));
  g.fake.check_error = "The account secret key was not accepted.";
  g.d->click(111);
  ASSERT_TRUE(g.d->waitStatus("The account secret key was not accepted."));
  EXPECT_EQ(g.fake.checkCount(), 2u);
  EXPECT_TRUE(g.fake.copyOf(g.fake.checks)[1].enabled);
  EXPECT_EQ(g.fake.applyCount(), 0u);
  EXPECT_FALSE(g.d->visible(122));  // the earlier verification no longer holds
}

void holdCheck(FakeController& fake) { fake.check_gate.hold(); }
void holdCheckPastCancel(FakeController& fake) { fake.check_gate.holdPastCancel(); }

// A stale check result must never verify or save.
TEST(SetupCommands, EditingDuringACheckCancelsIt) {
  // Showing starts the automatic check; it stays running until released.
  Fixture f(qbtest::savedSetup(), true, holdCheckPastCancel);
  ASSERT_TRUE(pumpUntil([&] { return f.fake.check_gate.entered(); }));
  EXPECT_EQ(f.d->status(), "Checking the Quorbelle sync connection...");
  EXPECT_FALSE(f.d->enabled(111));
  EXPECT_FALSE(f.d->enabled(102));
  f.d->type(101, "s3cret-keyx");
  EXPECT_EQ(f.d->status(), "Settings changed. Connection check canceled; select Start sync again.");
  ASSERT_TRUE(pumpUntil([&] { return f.fake.check_gate.sawCancel(); }));
  f.fake.check_gate.release();
  ASSERT_TRUE(f.d->waitStatus("Connection check canceled. Select Start sync to try again."));
  EXPECT_EQ(f.fake.applyCount(), 0u);
  EXPECT_FALSE(f.d->visible(122));
}

TEST(SetupCommands, AChangedFormAfterAnUncancelledCheckDoesNotCount) {
  Fixture f(qbtest::savedSetup(), true, holdCheck);
  ASSERT_TRUE(pumpUntil([&] { return f.fake.check_gate.entered(); }));
  // A checkbox flips without a notification (no generation bump); the form comparison still catches it.
  SendMessageW(f.d->ctl(107), BM_SETCHECK, BST_CHECKED, 0);
  f.fake.check_gate.release();
  ASSERT_TRUE(f.d->waitStatus("Connection check canceled. Select Start sync to try again."));
  EXPECT_EQ(f.fake.applyCount(), 0u);
}

TEST(SetupCommands, ShowingASavedSetupVerifiesItWithoutSaving) {
  qbnative::SetupValues saved = qbtest::savedSetup();
  saved.enabled = false;
  Fixture f(saved);
  ASSERT_TRUE(f.d->waitStatus("Connection verified. Journal tools are ready."));
  ASSERT_EQ(f.fake.checkCount(), 1u);
  EXPECT_FALSE(f.fake.checks[0].enabled);  // an automatic check keeps the saved on/off state
  EXPECT_EQ(f.fake.checks[0].secret, "s3cret-key");
  EXPECT_EQ(f.fake.applyCount(), 0u);
  EXPECT_TRUE(f.d->visible(122));

  // Verified by the check but the controller does not offer the tools yet.
  Fixture g(qbtest::savedSetup(), false);
  g.fake.tools_ready = false;
  g.window->requestShow(false);
  ASSERT_TRUE(g.d->waitStatus("Connection verified. Select Start sync to enable journal tools."));
  EXPECT_FALSE(g.d->visible(122));
}

TEST(SetupCommands, PauseSavesTheStoredSetupNotTheEdits) {
  Fixture f(qbtest::savedSetup(), false);
  f.d->type(100, "edited@example.com");
  f.d->click(112);
  EXPECT_EQ(f.d->status(), "Sync paused. Saved local records are retained.");
  ASSERT_EQ(f.fake.applyCount(), 1u);
  const qbnative::SetupValues v = f.fake.applies[0];
  EXPECT_FALSE(v.enabled);
  EXPECT_EQ(v.email, "trader@example.com");
  EXPECT_EQ(v.secret, "s3cret-key");
  EXPECT_EQ(v.account_id, kAccountA);
  EXPECT_EQ(f.d->text(100), "edited@example.com");

  // Pause also cancels a running check.
  Fixture g(qbtest::savedSetup(), true, holdCheck);
  ASSERT_TRUE(pumpUntil([&] { return g.fake.check_gate.entered(); }));
  g.d->click(112);
  EXPECT_TRUE(pumpUntil([&] { return g.fake.check_gate.sawCancel(); }));
  ASSERT_TRUE(g.d->waitStatus("Connection check canceled. Select Start sync to try again."));
  EXPECT_EQ(g.fake.applyCount(), 1u);  // only the pause
}

TEST(SetupCommands, JournalNotesAndCaptures) {
  Fixture f(qbtest::savedSetup());
  ASSERT_TRUE(f.d->waitStatus("Connection verified. Journal tools are ready."));
  f.d->click(122);
  EXPECT_EQ(f.d->caption(), "Quorbelle Journal note");
  EXPECT_TRUE(f.d->visible(108));
  EXPECT_EQ(f.d->text(120), "Destination: Main");
  EXPECT_EQ(f.d->controlRect(113).top, 388);
  EXPECT_TRUE(f.d->enabled(109));

  f.d->click(109);
  EXPECT_EQ(f.d->status(), "Enter a note first.");
  const std::string note = "Caf\xC3\xA9 \xE2\x9C\x93\r\nsecond line";
  f.d->type(108, note);
  f.d->click(109);
  EXPECT_EQ(f.d->status(), "Note saved locally and queued for your UTC day journal.");
  ASSERT_EQ(f.fake.copyOf(f.fake.notes).size(), 1u);
  EXPECT_EQ(f.fake.notes[0], note);
  EXPECT_EQ(f.d->text(108), "");

  f.d->click(110);
  EXPECT_EQ(f.d->status(), "Chart capture queued. The image will stay on this computer.");
  EXPECT_EQ(f.fake.captures, 1);
  // The confirmation outlasts the controller's status ticks.
  f.fake.setStatus("Sync is running.");
  EXPECT_FALSE(pumpUntil([&] { return f.d->status() != "Chart capture queued. The image will stay on this computer."; },
                         1300));
}

TEST(SetupCommands, CtrlEnterSavesTheNoteAndEnterBreaksTheLine) {
  Fixture f(qbtest::savedSetup(), false);
  f.window->requestShow(true);
  ASSERT_TRUE(f.d->waitStatus("Connection verified. Journal tools are ready."));
  f.d->type(108, "first line");
  SendMessageW(f.d->ctl(108), EM_SETSEL, 10, 10);
  f.d->pressEnter(108, false);
  ASSERT_TRUE(pumpUntil([&] { return f.d->text(108) == "first line\r\n"; })) << f.d->text(108);
  EXPECT_TRUE(f.fake.copyOf(f.fake.notes).empty());

  // Ctrl+Enter saves what is there and adds no line break of its own.
  f.d->pressEnter(108, true);
  ASSERT_TRUE(f.d->waitStatus("Note saved locally and queued for your UTC day journal."));
  f.d->setCtrl(false);
  const std::vector<std::string> notes = f.fake.copyOf(f.fake.notes);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0], "first line\r\n");
  EXPECT_EQ(f.d->text(108), "");
}

TEST(SetupCommands, JournalCommandsNeedVerifiedToolsAndNoteSync) {
  qbnative::SetupValues saved = qbtest::savedSetup();
  saved.sync_notes = false;
  Fixture f(saved);
  ASSERT_TRUE(f.d->waitStatus("Connection verified. Journal tools are ready."));
  f.d->click(122);
  EXPECT_FALSE(f.d->enabled(109));
  EXPECT_EQ(f.d->text(123), "Note sync is off. Enable it in Connection settings before saving notes.");
  f.d->type(108, "note");
  f.d->command(109);
  EXPECT_EQ(f.d->status(), "Enable note sync in Connection settings before saving notes.");
  EXPECT_TRUE(f.fake.notes.empty());

  // Without a verified connection neither command reaches the controller.
  Fixture g({}, false);
  g.window->requestShow(true);
  ASSERT_TRUE(g.d->waitStatus("Connect this chart in Connection settings before adding notes."));
  g.d->command(109);
  EXPECT_EQ(g.d->status(), "Verify the connection with Start sync before adding a note.");
  Fixture h({}, false);
  h.window->requestShow(true);
  ASSERT_TRUE(h.d->waitStatus("Connect this chart in Connection settings before adding notes."));
  h.d->command(110);
  EXPECT_EQ(h.d->status(), "Verify the connection with Start sync before capturing a chart.");
  EXPECT_EQ(g.fake.captures + h.fake.captures, 0);
}

}  // namespace
