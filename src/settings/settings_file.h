// The saved settings file of one source scope: its name, and its content
// protected for the current Windows user. Saves are crash-safe replacements;
// the file is never edited in place or deleted.
#ifndef QB_SETTINGS_SETTINGS_FILE_H
#define QB_SETTINGS_SETTINGS_FILE_H

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

namespace qbsync {

// Largest serialized document a save accepts (before protection).
inline constexpr std::size_t kSettingsDocumentLimit = 1044480;

// 32 lower-case hex digits naming the scope's settings file: the start of the
// SHA-256 of the compact array [account, symbol, simulation, replay].
// Pure. Throws nlohmann::json::type_error for text that is not valid UTF-8,
// and the digest's errors.
std::string settingsFileKey(const std::string& account, const std::string& symbol, bool simulation,
                            bool replay);

// Serializes the document compactly, protects it for the current user and
// replaces the file at path with it: the blob is published under
// path + "." + a fresh identifier + ".tmp", then moved over path. Windows only.
// The caller serializes its saves (the controller holds its mutex).
// Throws nlohmann::json::type_error for invalid UTF-8; std::runtime_error
// "SAVED_SETTINGS_LIMIT" (above kSettingsDocumentLimit bytes) or
// "CREDENTIAL_ENCRYPTION_FAILED", writing nothing; the publication errors of
// publishOnce, leaving the old file; "SETTINGS_SAVE_FAILED" when the final
// replace fails, leaving the old file and the temporary file.
// The serialized plaintext is zeroed before its memory is released.
void saveSettingsFile(const std::string& path, const nlohmann::json& document);

// Reads, unprotects and parses the file at path (strict JSON, no comments).
// Windows only. Throws readSmallFile's errors, std::runtime_error
// "CREDENTIAL_DECRYPTION_FAILED" (another user or machine, a damaged file),
// or nlohmann::json::parse_error. The plaintext is zeroed and released in
// every case. The result holds the secret: see zeroSecretIn.
nlohmann::json loadSettingsFile(const std::string& path);

}  // namespace qbsync

#endif
