// Writes a scope's saved settings file before a run, with the library's own
// settings-file code, so that an end-to-end run starts with sync set up as
// the setup window would have left it. Windows only.
#ifndef QB_HOSTSIM_PREPARE_SETTINGS_H
#define QB_HOSTSIM_PREPARE_SETTINGS_H

#include <string>

namespace qbhostsim {

// documentText: the saved document as the settings file holds it:
//   {"settings": {...connection settings...}, "secret": "...",
//    "allow_replay": false, "note_revision": 0, "screenshot_revision": 0,
//    "pending_notes": [], "pending_screenshots": []}
// The scope (source account, symbol, simulation, replay) is read from
// "settings"; the document must pass the rules the library applies on load.
// The file goes to <dataFolder>\QuorbelleSync\settings\<key>.bin; returns
// its path. Settings that would not validate are written all the same (a
// run may test them) and reported on stderr. Throws std::exception.
std::string prepareSettings(const std::string& dataFolder, const std::string& documentText);

}  // namespace qbhostsim

#endif
