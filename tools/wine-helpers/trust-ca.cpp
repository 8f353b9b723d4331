// qb-trust-ca FILE: adds the CA certificate in FILE (PEM or DER) to the
// machine ROOT store of the Windows environment it runs in. The test suites
// run it inside the build's private wine prefix, so the test CA is trusted
// there and nowhere else.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qb-trust-ca CA-FILE(.pem|.der)\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) {
    std::fprintf(stderr, "qb-trust-ca: cannot read %s\n", argv[1]);
    return 1;
  }
  std::vector<BYTE> der;
  if (text.find("-----BEGIN CERTIFICATE-----") != std::string::npos) {
    DWORD size = 0;
    if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                              &size, nullptr, nullptr)) {
      std::fprintf(stderr, "qb-trust-ca: %s is not a PEM certificate (error %lu)\n", argv[1], GetLastError());
      return 1;
    }
    der.resize(size);
    if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                              &size, nullptr, nullptr)) {
      std::fprintf(stderr, "qb-trust-ca: cannot decode %s (error %lu)\n", argv[1], GetLastError());
      return 1;
    }
    der.resize(size);
  } else {
    der.assign(text.begin(), text.end());
  }
  if (der.empty()) {
    std::fprintf(stderr, "qb-trust-ca: %s is empty\n", argv[1]);
    return 1;
  }
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
  if (!store) {
    std::fprintf(stderr, "qb-trust-ca: cannot open the ROOT store (error %lu)\n", GetLastError());
    return 1;
  }
  const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                                      static_cast<DWORD>(der.size()),
                                                      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD error = GetLastError();
  CertCloseStore(store, 0);
  if (!added) {
    std::fprintf(stderr, "qb-trust-ca: cannot add %s (error %lu)\n", argv[1], error);
    return 1;
  }
  std::printf("qb-trust-ca: trusted %s\n", argv[1]);
  return 0;
}
