#pragma once

// File: import of certificate files into the local machine's stores. Self-issued certificates
// (subject name equal to issuer name) go to "ROOT", every other one to "ADDRESSBOOK"; each
// addition or failure is reported in a box. Both calls run on the host's window thread (or on
// the main thread for the command line's "-import").
//
// Example:
//   host::ImportFile(shell, "/tmp/chain.p7b");  // one box per certificate of the file

#include <string>

#include "platform/os/shell.h"

namespace host {

// ImportCertificates shows the open-file dialog for X.509 certificates and PKCS #12 files and
// imports each chosen file with ImportFile, in the order given. Nothing happens when the dialog is
// cancelled.
void ImportCertificates(platform::Shell& shell);

// ImportFile opens the file `path` as a certificate store and adds each of its certificates, in
// the store's order, to the local machine's "ROOT" or "ADDRESSBOOK" store, replacing only an older
// certificate of the same issuer and serial number. Every addition is reported in an information
// box; a file that cannot be opened in a warning box, a certificate not added in an information
// box with the system's text for the error (no box when the system has none). A failure never
// stops the remaining certificates.
void ImportFile(platform::Shell& shell, const std::string& path);

}  // namespace host
