#include <windows.h>

#include <cstdint>
#include <stdexcept>

#include "support/sha256.h"
#include "support/sha256_hex.h"

namespace qbsync {
namespace {

// advapi32 is loaded by name at run time so the study never links it and the
// module cannot be picked up from the chart's working directory.
using AcquireContextFn = BOOL(WINAPI*)(ULONG_PTR*, LPCSTR, LPCSTR, DWORD, DWORD);
using ReleaseContextFn = BOOL(WINAPI*)(ULONG_PTR, DWORD);
using CreateHashFn = BOOL(WINAPI*)(ULONG_PTR, unsigned int, ULONG_PTR, DWORD, ULONG_PTR*);
using HashDataFn = BOOL(WINAPI*)(ULONG_PTR, const BYTE*, DWORD, DWORD);
using GetHashParamFn = BOOL(WINAPI*)(ULONG_PTR, DWORD, BYTE*, DWORD*, DWORD);
using DestroyHashFn = BOOL(WINAPI*)(ULONG_PTR);

constexpr DWORD kProvRsaAes = 24;
constexpr DWORD kVerifyContext = 0xF0000000;
constexpr unsigned int kAlgSha256 = 0x800C;
constexpr DWORD kHashValue = 2;

template <typename Fn>
bool resolve(HMODULE module, const char* name, Fn& fn) {
  fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return fn != nullptr;
}

}  // namespace

struct Sha256Provider::Impl {
  HMODULE module = nullptr;
  AcquireContextFn acquire = nullptr;
  ReleaseContextFn release = nullptr;
  CreateHashFn createHash = nullptr;
  HashDataFn hashData = nullptr;
  GetHashParamFn getHashParam = nullptr;
  DestroyHashFn destroyHash = nullptr;
  ULONG_PTR context = 0;
};

Sha256Provider::Sha256Provider() : impl_(std::make_unique<Impl>()) {
  Impl& p = *impl_;
  p.module = LoadLibraryExA("advapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!p.module) throw std::runtime_error("Cannot load Windows SHA-256 provider.");
  const bool resolved = resolve(p.module, "CryptAcquireContextA", p.acquire) &&
                        resolve(p.module, "CryptReleaseContext", p.release) &&
                        resolve(p.module, "CryptCreateHash", p.createHash) &&
                        resolve(p.module, "CryptHashData", p.hashData) &&
                        resolve(p.module, "CryptGetHashParam", p.getHashParam) &&
                        resolve(p.module, "CryptDestroyHash", p.destroyHash);
  if (!resolved || !p.acquire(&p.context, nullptr, nullptr, kProvRsaAes, kVerifyContext)) {
    FreeLibrary(p.module);
    p.module = nullptr;
    throw std::runtime_error("Cannot initialize Windows SHA-256 provider.");
  }
}

Sha256Provider::~Sha256Provider() {
  if (!impl_ || !impl_->module) return;
  impl_->release(impl_->context, 0);
  FreeLibrary(impl_->module);
}

std::string Sha256Provider::sha256Hex(std::string_view bytes) const {
  const Impl& p = *impl_;
  // The provider takes a 32-bit length; larger inputs would be cut silently.
  if (bytes.size() > 0xFFFFFFFFu) throw std::runtime_error("SHA-256 calculation failed.");
  ULONG_PTR hash = 0;
  if (!p.createHash(p.context, kAlgSha256, 0, 0, &hash)) throw std::runtime_error("SHA-256 creation failed.");
  BYTE digest[32] = {};
  DWORD length = sizeof digest;
  const bool ok = p.hashData(hash, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), 0) &&
                  p.getHashParam(hash, kHashValue, digest, &length, 0);
  p.destroyHash(hash);
  if (!ok || length != 32) throw std::runtime_error("SHA-256 calculation failed.");
  return hexDigits(digest, sizeof digest);
}

}  // namespace qbsync
