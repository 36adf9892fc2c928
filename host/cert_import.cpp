#include "host/cert_import.h"

#include <memory>
#include <vector>

#include "platform/cert_file_store.h"
#include "platform/cert_name.h"
#include "platform/cert_store.h"
#include "platform/cp1251.h"
#include "platform/last_error.h"
#include "platform/log.h"
#include "platform/system_messages.h"

namespace host {
namespace {

using namespace platform::literals;

// Target is one of the two stores a certificate can go to, with the texts of its success box.
struct Target {
  const char* store;
  const char* title;
  const char* addedFormat;  // filled with the subject
};

const Target kRoot = {
    "ROOT", "Сертификат добавлен в ROOT"_cp1251,
    "Сертификат на %s\nдобавлен в \"Доверенные корневые центры сертификации\" на локальный "
    "компьютер"_cp1251};
const Target kAddressBook = {
    "ADDRESSBOOK", "Сертификат добавлен в ADDRESSBOOK"_cp1251,
    "Сертификат на %s\nдобавлен в \"Другие пользователи\" на локальный компьютер"_cp1251};

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
      {"Сертификат X.509 (*.cer;*.crt;*.pem;*.p7b;*.p7c)"_cp1251, "*.cer;*.crt;*.pem;*.p7b;*.p7c"},
      {"Personal Information Exchange (*.pfx;*.p12)", "*.pfx;*.p12"},
  };
  for (const std::string& path : shell.GetOpenFileName(filters)) ImportFile(shell, path);
}

void ImportFile(platform::Shell& shell, const std::string& path) {
  const std::unique_ptr<platform::CertCollection> certs = platform::CertOpenFileStore(path);
  if (!certs) {
    ShowLastError(shell, "Ошибка"_cp1251, "Неудалось открыть контейнер с сертификатом\n\n%s"_cp1251,
                  platform::MB_ICONWARNING);
    return;
  }
  for (const auto& cert : *certs) {
    // Self-issued: the two encoded names are the same bytes.
    const Target& target = cert->Info().subject == cert->Info().issuer ? kRoot : kAddressBook;
    const std::unique_ptr<platform::CertStore> store =
        platform::CertStore::Open(platform::StoreLocation::kLocalMachine, target.store);
    if (!store->Add(*cert, platform::CERT_STORE_ADD_NEWER)) {
      ShowLastError(shell, "Сертификат не добавлен"_cp1251, "%s", platform::MB_ICONINFORMATION);
      continue;
    }
    const std::string subject = platform::CertNameToStrA(
        *cert, false, platform::CERT_X500_NAME_STR | platform::CERT_NAME_STR_REVERSE_FLAG);
    shell.MessageBox(target.title, platform::FormatText(target.addedFormat, subject.c_str()),
                     platform::MB_ICONINFORMATION, platform::MB_OK);
  }
}

}  // namespace host
