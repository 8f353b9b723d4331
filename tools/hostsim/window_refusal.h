// The host refusing the study's setup window, as another program's window
// hook on a trader's machine can: while refusal is on, a CBT hook vetoes the
// creation of any window captioned "Quorbelle Sync setup", so the study's
// window thread ends early with its failure text. The hook sits on every
// thread the process starts after arming, the only way to reach a thread the
// study library starts for itself. Windows only.
#ifndef QB_HOSTSIM_WINDOW_REFUSAL_H
#define QB_HOSTSIM_WINDOW_REFUSAL_H

namespace qbhostsim {

// Before the library starts any thread (before the first study call).
void armWindowRefusal();
// Any thread: whether the hook vetoes the window from now on.
void setWindowRefusal(bool refuse);

}  // namespace qbhostsim

#endif
