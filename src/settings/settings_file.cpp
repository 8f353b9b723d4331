#include "settings/settings_file.h"

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <stdexcept>
#include <string_view>

#include "settings/secure_zero.h"
#include "storage/durable_file.h"
#include "storage/file_api.h"
#include "support/identifier.h"

namespace qbsync {
namespace {

const wchar_t kProtectionDescription[] = L"Quorbelle Sierra settings";

// Collects the serialized document in one buffer reserved up front, so the
// plaintext is never copied by a growing string into memory freed unzeroed.
// Past the limit it only counts.
class BoundedSink final : public nlohmann::detail::output_adapter_protocol<char> {
 public:
  BoundedSink() { text_.reserve(kSettingsDocumentLimit); }
  ~BoundedSink() override { secureZero(text_); }
  BoundedSink(const BoundedSink&) = delete;
  BoundedSink& operator=(const BoundedSink&) = delete;

  void write_character(char c) override { write_characters(&c, 1); }
  void write_characters(const char* s, std::size_t length) override {
    if (overflow_ || length > kSettingsDocumentLimit - text_.size()) {
      overflow_ = true;
      return;
    }
    text_.append(s, length);
  }

  bool overflow() const { return overflow_; }
  std::string& text() { return text_; }

 private:
  std::string text_;
  bool overflow_ = false;
};

// Zeros and frees a buffer the Data Protection API returned.
struct ProtectedOutput {
  DATA_BLOB blob{0, nullptr};
  bool zeroOnRelease = false;
  ProtectedOutput() = default;
  ProtectedOutput(const ProtectedOutput&) = delete;
  ProtectedOutput& operator=(const ProtectedOutput&) = delete;
  ~ProtectedOutput() {
    if (blob.pbData == nullptr) return;
    if (zeroOnRelease) SecureZeroMemory(blob.pbData, blob.cbData);
    LocalFree(blob.pbData);
  }
};

}  // namespace

void saveSettingsFile(const std::string& path, const nlohmann::json& document) {
  ProtectedOutput output;
  {
    auto sink = std::make_shared<BoundedSink>();
    nlohmann::detail::serializer<nlohmann::json> serializer(sink, ' ', nlohmann::json::error_handler_t::strict);
    serializer.dump(document, false, false, 0);
    if (sink->overflow()) throw std::runtime_error("SAVED_SETTINGS_LIMIT");

    std::string& text = sink->text();
    DATA_BLOB input{static_cast<DWORD>(text.size()), reinterpret_cast<BYTE*>(text.data())};
    const BOOL protectedOk = CryptProtectData(&input, kProtectionDescription, nullptr, nullptr, nullptr,
                                              CRYPTPROTECT_UI_FORBIDDEN, &output.blob);
    SecureZeroMemory(text.data(), text.size());
    if (!protectedOk) throw std::runtime_error("CREDENTIAL_ENCRYPTION_FAILED");
  }
  const std::string blob(reinterpret_cast<const char*>(output.blob.pbData), output.blob.cbData);

  // A fresh name per save, so a temporary file an earlier failed save left
  // behind is never reused or moved into place.
  const std::string temporary = path + "." + newIdentifier() + ".tmp";
  if (!publishOnce(temporary, blob)) throw std::runtime_error("SETTINGS_SAVE_FAILED");
  if (!fileApi().moveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw std::runtime_error("SETTINGS_SAVE_FAILED");
  }
}

nlohmann::json loadSettingsFile(const std::string& path) {
  std::string blob = readSmallFile(path);
  DATA_BLOB input{static_cast<DWORD>(blob.size()), reinterpret_cast<BYTE*>(blob.data())};
  ProtectedOutput plaintext;
  plaintext.zeroOnRelease = true;
  if (!CryptUnprotectData(&input, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                          &plaintext.blob)) {
    throw std::runtime_error("CREDENTIAL_DECRYPTION_FAILED");
  }
  const auto* begin = reinterpret_cast<const char*>(plaintext.blob.pbData);
  return nlohmann::json::parse(begin, begin + plaintext.blob.cbData, nullptr, true, false);
}

}  // namespace qbsync
