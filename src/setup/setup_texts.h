// Every text the setup window shows or raises, in one place. UTF-8.
#ifndef QB_SETUP_SETUP_TEXTS_H
#define QB_SETUP_SETUP_TEXTS_H

namespace qbnative::setup_text {

// Window thread start failures (the window's failure text).
inline constexpr char kRegisterFailed[] = "Could not register Quorbelle setup window.";
inline constexpr char kOpenFailed[] = "Could not open Quorbelle setup window.";
inline constexpr char kControlFailed[] = "Could not create Quorbelle setup control.";
inline constexpr char kCreateFailed[] = "Could not create the Quorbelle setup window.";

// Status line.
inline constexpr char kReady[] = "Ready to connect.";
inline constexpr char kLoading[] = "Loading your Quorbelle accounts...";
inline constexpr char kChecking[] = "Checking the Quorbelle sync connection...";
inline constexpr char kChooseDestination[] = "Choose the destination account, then select Start sync.";
inline constexpr char kNoAccounts[] =
    "No trading accounts were returned. Add a trading account in Quorbelle, then load again.";
inline constexpr char kCredentialsChangedWhileLoading[] =
    "Credentials changed while accounts were loading. Load accounts again.";
inline constexpr char kVerifiedSaved[] = "Connection verified. Sync settings saved.";
inline constexpr char kVerifiedToolsReady[] = "Connection verified. Journal tools are ready.";
inline constexpr char kVerifiedSelectStart[] = "Connection verified. Select Start sync to enable journal tools.";
inline constexpr char kCheckCanceled[] = "Connection check canceled. Select Start sync to try again.";
inline constexpr char kSettingsChanged[] = "Settings changed. Connection check canceled; select Start sync again.";
inline constexpr char kPaused[] = "Sync paused. Saved local records are retained.";
inline constexpr char kConnectBeforeNotes[] = "Connect this chart in Connection settings before adding notes.";
inline constexpr char kNoteSaved[] = "Note saved locally and queued for your UTC day journal.";
inline constexpr char kCaptureQueued[] = "Chart capture queued. The image will stay on this computer.";
inline constexpr char kActionFailed[] = "Setup could not complete the action. Please try again.";

// Errors raised by the window's commands.
inline constexpr char kEnterCredentials[] = "Enter your Quorbelle email and account secret key.";
inline constexpr char kDiscoveryUnavailable[] = "Account discovery is unavailable.";
inline constexpr char kVerificationUnavailable[] = "Connection verification is unavailable.";
inline constexpr char kChooseDestinationFirst[] = "Load your accounts and choose a destination first.";
inline constexpr char kCredentialsChanged[] = "Credentials changed. Load accounts again before starting sync.";
inline constexpr char kSessionIdLength[] = "Session ID must contain 1\xE2\x80\x93" "128 bytes.";
inline constexpr char kSetupUnavailable[] = "Sync setup is unavailable.";
inline constexpr char kVerifyBeforeNote[] = "Verify the connection with Start sync before adding a note.";
inline constexpr char kVerifyBeforeCapture[] = "Verify the connection with Start sync before capturing a chart.";
inline constexpr char kEnableNoteSync[] = "Enable note sync in Connection settings before saving notes.";
inline constexpr char kEnterNote[] = "Enter a note first.";
inline constexpr char kNoteUnavailable[] = "Note saving is unavailable.";
inline constexpr char kCaptureUnavailable[] = "Chart capture is unavailable.";

// Worker fallbacks for failures that carry no message.
inline constexpr char kLoadFailed[] = "Could not load accounts. Check the connection and try again.";
inline constexpr char kCheckFailed[] = "Could not verify the sync connection. Please try again.";

// Journal-note hint (control 123).
inline constexpr char kNoteHint[] =
    "Ctrl+Enter saves. Notes sync to your UTC day journal.\nCaptured images stay on this computer.";
inline constexpr char kNoteSyncOff[] = "Note sync is off. Enable it in Connection settings before saving notes.";

}  // namespace qbnative::setup_text

#endif
