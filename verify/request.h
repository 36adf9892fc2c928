#pragma once

// CheckRequest is everything one verification takes: the signed data, the signature, the
// optional signer certificate and XML fragment, and the options of the connection that asks.
// The server gathers it; CCrypto reads it once. Plain data.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/memory_allowance.h"
#include "platform/base/unique_fd.h"

namespace verify {

struct CheckRequest {
  // The signed data: `document`, or, when `documentFile` is open, that file of
  // `documentFileSize` bytes (a detached CMS signature is checked by reading it in pieces).
  std::vector<uint8_t> document;
  platform::UniqueFd documentFile;
  uint64_t documentFileSize = 0;
  std::vector<uint8_t> signature;
  // The signer's certificate; when given, `signature` is a bare signature value checked over the
  // signed data, else a detached CMS message.
  std::vector<uint8_t> certificate;
  // The XML fragment whose digest must appear in the signed text, when one was given.
  std::optional<std::vector<uint8_t>> hashedXml;
  bool xmlMode = false;         // canonicalize the signed text and the fragment first
  bool findCertificate = true;  // look the signer up in the stores
  bool checkRevocation = true;
  uint64_t verifyTime = 0;       // FILETIME (UTC) to judge the chain at; 0 means now
  int32_t keyLifetimeDays = -1;  // private-key usage period; negative: no check
  std::string oidList;           // extended-key-usage OIDs, comma separated; empty: no filter
  // What the certificates decoded for the request may take, counted with the memory of the
  // connection that asks (not owned; it must outlive the engine); null: no bound.
  platform::MemoryAllowance* allowance = nullptr;
};

}  // namespace verify
