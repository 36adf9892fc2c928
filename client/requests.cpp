#include "client/requests.h"

#include "client/blob_file.h"
#include "platform/base/cp1251.h"

namespace client {

std::vector<std::string> SettingsCommands(const Options& options) {
  std::vector<std::string> commands = {options.hashServer.empty() ? "B64ON" : "B64OFF"};
  if (options.noCrl) commands.push_back("CRLOFF");
  if (options.noFind) commands.push_back("FINDOFF");
  if (!options.time.empty()) commands.push_back("TIME " + options.time);
  if (options.keyLifetimeDays) {
    commands.push_back("SKLIFETIME " + std::to_string(*options.keyLifetimeDays));
  }
  if (!options.oid.empty()) commands.push_back("OID " + options.oid);
  if (!options.uploadService.empty()) commands.push_back("UPLOADSERVICE " + options.uploadService);
  if (!options.hashServer.empty()) commands.push_back("HASHSERVER " + options.hashServer);
  if (!options.htmlFile.empty()) commands.push_back("HTMLON");
  return commands;
}

void QueueBlock(Session& session, std::string_view command, std::span<const uint8_t> bytes) {
  session.Command(command);
  session.Data(Base64Lines(bytes));
  session.EndBlock();
}

Failure Refusal(const Reply& reply, std::string_view request) {
  std::string said;
  for (const std::string& line : reply.lines) said += (said.empty() ? "" : " ") + line;
  // The server's texts are Windows-1251, like every message UTF-8.
  return {FailureKind::kServer,
          "the server refused " + std::string(request) + ": " + platform::Cp1251ToUtf8(said)};
}

}  // namespace client
