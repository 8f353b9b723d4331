// SHA-256 digests as 64 lowercase hexadecimal digits.
#ifndef QB_SUPPORT_SHA256_H
#define QB_SUPPORT_SHA256_H

#include <memory>
#include <string>
#include <string_view>

namespace qbsync {

// Owns the platform's SHA-256 provider (on Windows: advapi32 loaded from the
// system folder at run time, one acquired context). Used by one thread only;
// each owner creates its own. Construction throws std::runtime_error
// "Cannot load Windows SHA-256 provider." or "Cannot initialize Windows SHA-256 provider.".
class Sha256Provider {
 public:
  Sha256Provider();
  ~Sha256Provider();
  Sha256Provider(const Sha256Provider&) = delete;
  Sha256Provider& operator=(const Sha256Provider&) = delete;

  // Throws "SHA-256 creation failed." or "SHA-256 calculation failed.".
  std::string sha256Hex(std::string_view bytes) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// One-shot digest with a provider of its own; for callers that digest rarely.
std::string sha256Hex(std::string_view bytes);

}  // namespace qbsync

#endif
