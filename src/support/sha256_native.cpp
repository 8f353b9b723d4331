// Native stand-in for the Windows provider: OpenSSL's SHA-256, so sanitizer
// and fuzzing builds digest exactly as the product does.
#include <openssl/evp.h>

#include <stdexcept>

#include "support/sha256.h"
#include "support/sha256_hex.h"

namespace qbsync {

struct Sha256Provider::Impl {};

Sha256Provider::Sha256Provider() : impl_(std::make_unique<Impl>()) {}

Sha256Provider::~Sha256Provider() = default;

std::string Sha256Provider::sha256Hex(std::string_view bytes) const {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (!ctx) throw std::runtime_error("SHA-256 creation failed.");
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const bool ok = EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1 &&
                  EVP_DigestUpdate(ctx, bytes.data(), bytes.size()) == 1 &&
                  EVP_DigestFinal_ex(ctx, digest, &length) == 1;
  EVP_MD_CTX_free(ctx);
  if (!ok || length != 32) throw std::runtime_error("SHA-256 calculation failed.");
  return hexDigits(digest, 32);
}

}  // namespace qbsync
