#include "host/cert_import.h"

#include <memory>
#include <vector>

#include "host/host_texts.h"
#include "platform/base/last_error.h"
#include "platform/base/log.h"
#include "platform/base/system_messages.h"
#include "platform/crypto/cert_file_store.h"
#include "platform/crypto/cert_name.h"
#include "platform/crypto/cert_store.h"

namespace host {
namespace {

// Target is one of the two stores a certificate can go to, with the texts of its success box.
struct Target {
  const char* store;
  const char* title;
  const char* addedFormat;  // filled with the subject
};

const Target kRoot = {"ROOT", texts::kRootAddedTitle, texts::kRootAddedFormat};
const Target kAddressBook = {"ADDRESSBOOK", texts::kAddressBookAddedTitle,
                             texts::kAddressBookAddedFormat};

// ShowLastError shows the system's text for the last error under `title`, or nothing when the
// system has no text for it.
void ShowLastError(platform::Shell& shell, const char* title, const char* format,
                   platform::MessageBoxIcon icon) {
  const std::string reason = platform::SystemMessage(platform::GetLastError());
  if (reason.empty()) return;
  shell.MessageBox(title, platform::FormatText(format, reason.c_str()), icon, platform::MB_OK);
}

}  // namespace

void ImportCertificates(platform::Shell& shell) {
  // The first filter also lists the PEM and PKCS #7 files that ImportFile reads.
  const std::vector<platform::FileFilter> filters = {
      {texts::kCertificateFilter, "*.cer;*.crt;*.pem;*.p7b;*.p7c"},
      {texts::kPersonalExchangeFilter, "*.pfx;*.p12"},
  };
  for (const std::string& path : shell.GetOpenFileName(filters)) ImportFile(shell, path);
}

void ImportFile(platform::Shell& shell, const std::string& path) {
  const std::unique_ptr<platform::CertCollection> certs = platform::CertOpenFileStore(path);
  if (!certs) {
    ShowLastError(shell, texts::kOpenFailedTitle, texts::kOpenFailedFormat,
                  platform::MB_ICONWARNING);
    return;
  }
  for (const auto& cert : *certs) {
    // Self-issued: the two encoded names are the same bytes.
    const Target& target = cert->Info().subject == cert->Info().issuer ? kRoot : kAddressBook;
    const std::unique_ptr<platform::CertStore> store =
        platform::CertStore::Open(platform::StoreLocation::kLocalMachine, target.store);
    if (!store->Add(*cert, platform::CERT_STORE_ADD_NEWER)) {
      ShowLastError(shell, texts::kNotAddedTitle, "%s", platform::MB_ICONINFORMATION);
      continue;
    }
    const std::string subject = platform::CertNameToStrA(
        *cert, false, platform::CERT_X500_NAME_STR | platform::CERT_NAME_STR_REVERSE_FLAG);
    shell.MessageBox(target.title, platform::FormatText(target.addedFormat, subject.c_str()),
                     platform::MB_ICONINFORMATION, platform::MB_OK);
  }
}

}  // namespace host
