// Opens arbitrary bytes as a certificate file, as the import does, and checks what the import
// relies on:
//  - a file that opens yields certificates whose DER OpenSSL reads back, with the subject and
//    issuer names the contexts report;
//  - a file that does not open leaves CRYPT_E_NO_MATCH (or a read failure) as the last error.

#include <openssl/x509.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/require.h"
#include "platform/base/last_error.h"
#include "platform/base/win_status.h"
#include "platform/crypto/cert_file_store.h"
#include "platform/crypto/detail/handles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The bytes as a file with a path, without touching the disk.
  const int fd = memfd_create("cert-file", MFD_CLOEXEC);
  if (fd < 0) return 0;
  for (size_t written = 0; written < size;) {
    const ssize_t n = write(fd, data + written, size - written);
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  const std::unique_ptr<platform::CertCollection> certs =
      platform::CertOpenFileStore("/proc/self/fd/" + std::to_string(fd));
  close(fd);
  if (!certs) {
    const uint32_t error = platform::GetLastError();
    fuzz::Require(error == platform::CRYPT_E_NO_MATCH || error == platform::ERROR_READ_FAULT,
                  "a file that does not open says why");
    return 0;
  }
  for (const auto& cert : *certs) {
    const std::vector<uint8_t>& der = cert->Encoded();
    const unsigned char* p = der.data();
    const platform::detail::X509Ptr x509(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    fuzz::Require(x509 != nullptr && p == der.data() + der.size(),
                  "every certificate is whole DER");
    unsigned char* subject = nullptr;
    const int length = i2d_X509_NAME(X509_get_subject_name(x509.get()), &subject);
    const platform::detail::OpenSslBytesPtr owned(subject);
    fuzz::Require(
        length > 0 && cert->Info().subject == std::vector<uint8_t>(subject, subject + length),
        "the subject is the certificate's own");
  }
  return 0;
}
