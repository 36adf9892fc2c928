#pragma once

// RequestPipeline runs the requests of the protocol: CHECK (resolve the document, verify with a
// fresh CCrypto, answer six status lines, five name lines, the serial number, the report and "."),
// ADD TS and GETHASH. One instance serves every connection of a server; each request has its own
// engine.

#include "platform/os/clock.h"
#include "platform/os/inet.h"
#include "server/held_budget.h"
#include "server/server_limits.h"
#include "server/session.h"
#include "verify/engine_limits.h"
#include "verify/result.h"

namespace verify {
class TmpCertArhive;
}

namespace server {

class RequestPipeline : public RequestHandler {
 public:
  // Requests run within `requestLimits`, read calendar time from `clock` and download through
  // `internet`; what a CHECK decodes counts in `heldBudget` with what the connections hold.
  // `certArchive`, `heldBudget`, `clock` and `internet` (none owned) must outlive the pipeline.
  RequestPipeline(verify::TmpCertArhive& certArchive, HeldBudget& heldBudget,
                  const Limits& requestLimits, const platform::Clock& clock,
                  platform::Internet& internet)
      : archive(certArchive),
        budget(heldBudget),
        limits(requestLimits),
        engine{requestLimits.engine, &clock, &internet, {}} {}

  RequestAnswer Check(std::string_view commandLine, const ConnectionSettings& settings,
                      ConnectionData& data, const ClientGone& clientGone) override;
  RequestAnswer AddTimestamp(const ConnectionSettings& settings, ConnectionData& data) override;
  std::string GetHash(const std::string& reference, const std::string& hashServer,
                      const ClientGone& clientGone) override;

 private:
  // EngineFor is the engine context of one request of a client that `clientGone` watches.
  verify::EngineContext EngineFor(const ClientGone& clientGone) const;

  verify::TmpCertArhive& archive;
  HeldBudget& budget;
  const Limits limits;
  const verify::EngineContext engine;
};

// HashedXmlToUtf8 converts the hashed XML text, up to its first NUL byte, from Windows-1251 to
// UTF-8.
std::string HashedXmlToUtf8(const std::string& cp1251);

// CheckSummary is what the info line says of a verification: the three verdicts with their
// codes, and the signer.
std::string CheckSummary(const verify::VerifyResult& result);

// AnswerValue makes a certificate value safe for one answer line: it ends at the first NUL byte,
// as a C string does, and CR and LF become blanks, so that a name cannot forge answer lines.
std::string AnswerValue(std::string value);

}  // namespace server
