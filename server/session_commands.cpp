// The command table of a session: which line runs which command, and the commands that answer
// from the connection's own settings and data.

#include "platform/base/log.h"
#include "server/server_texts.h"
#include "server/session.h"
#include "server/time_argument.h"

namespace server {
namespace {

// Replace makes `text` a new string holding `with`, so that the memory of a large old text goes
// back instead of staying with the connection (an assignment would keep its room), and marks the
// blocks changed.
void Replace(ConnectionData& data, std::string& text, std::string_view with) {
  std::string(with).swap(text);
  ++data.revision;
}

// Matches is true when `line` meets `name` as `match` says, with the argument in `argument`.
bool Matches(std::string_view line, std::string_view name, CommandMatch match,
             std::string_view* argument) {
  switch (match) {
    case CommandMatch::kExact:
      *argument = {};
      return line == name;
    case CommandMatch::kArgument:
      if (line.size() <= name.size() || !line.starts_with(name) || line[name.size()] != ' ')
        return false;
      *argument = line.substr(name.size() + 1);
      return true;
    case CommandMatch::kPrefix:
      *argument = line.substr(std::min(line.size(), name.size()));
      return line.starts_with(name);
  }
  return false;
}

}  // namespace

// The order is the protocol's: an argument form before the bare form of the same name, and the
// block forms ("STRS", "SIGN", "CERT" followed by anything) after every other command.
const Session::CommandRow Session::kCommandRows[] = {
    {Command::kStrs, CommandMatch::kArgument, &Session::StoreText},
    {Command::kSign, CommandMatch::kArgument, &Session::StoreText},
    {Command::kB64On, CommandMatch::kExact, &Session::SetOption},
    {Command::kB64Off, CommandMatch::kExact, &Session::SetOption},
    {Command::kFindOn, CommandMatch::kExact, &Session::SetOption},
    {Command::kFindOff, CommandMatch::kExact, &Session::SetOption},
    {Command::kCrlOn, CommandMatch::kExact, &Session::SetOption},
    {Command::kCrlOff, CommandMatch::kExact, &Session::SetOption},
    {Command::kHtmlOn, CommandMatch::kExact, &Session::SetOption},
    {Command::kHtmlOff, CommandMatch::kExact, &Session::SetOption},
    {Command::kHashServer, CommandMatch::kArgument, &Session::SetHashServer},
    {Command::kHashServer, CommandMatch::kExact, &Session::SetLocalHashServer},
    {Command::kNoHashServer, CommandMatch::kExact, &Session::ClearHashServer},
    {Command::kGetHash, CommandMatch::kArgument, &Session::GetHash},
    {Command::kUploadService, CommandMatch::kArgument, &Session::SetUploadService},
    {Command::kMd5On, CommandMatch::kExact, &Session::SetOption},
    {Command::kMd5Off, CommandMatch::kExact, &Session::SetOption},
    {Command::kOid, CommandMatch::kArgument, &Session::SetOidList},
    {Command::kSkLifetime, CommandMatch::kArgument, &Session::SetKeyLifetime},
    {Command::kTime, CommandMatch::kArgument, &Session::SetTime},
    {Command::kQuit, CommandMatch::kExact, &Session::Quit},
    {Command::kExit, CommandMatch::kExact, &Session::Quit},
    {Command::kStrs, CommandMatch::kPrefix, &Session::OpenBlock},
    {Command::kSign, CommandMatch::kPrefix, &Session::OpenBlock},
    {Command::kCert, CommandMatch::kArgument, &Session::StoreText},
    {Command::kCert, CommandMatch::kPrefix, &Session::OpenBlock},
    {Command::kHashedXml, CommandMatch::kArgument, &Session::StoreText},
    {Command::kHashedXml, CommandMatch::kExact, &Session::OpenBlock},
    {Command::kAddTs, CommandMatch::kExact, &Session::AddTimestamp},
    {Command::kCheck, CommandMatch::kExact, &Session::Check},
};

bool Session::RunCommand(std::string_view line) {
  for (const CommandRow& row : kCommandRows) {
    std::string_view argument;
    if (!Matches(line, CommandName(row.command), row.match, &argument)) continue;
    if (metrics != nullptr) metrics->CountCommand(row.command);
    running = row.command;
    return (this->*row.run)(argument);
  }
  if (metrics != nullptr) metrics->CountCommand(Command::kOther);
  sink.Send(texts::kWhat);
  return true;
}

namespace {

// The data blocks: the command that fills each, its field, and the answers to its one-line form
// and to the opening of its block.
struct DataBlock {
  Command command;
  BlockMode mode;
  std::string ConnectionData::*text;
  const char* const* storedAnswer;
  const char* const* openAnswer;
};
const DataBlock kDataBlocks[] = {
    {Command::kStrs, BlockMode::kStrs, &ConnectionData::documentText, &texts::kStringStored,
     &texts::kGettingData},
    {Command::kSign, BlockMode::kSign, &ConnectionData::signatureText, &texts::kSignatureStored,
     &texts::kGettingSignature},
    {Command::kCert, BlockMode::kCert, &ConnectionData::certificateText, &texts::kCertificateStored,
     &texts::kGettingCertificate},
    {Command::kHashedXml, BlockMode::kHashedXml, &ConnectionData::hashedXmlText,
     &texts::kHashedXmlStored, &texts::kGettingHashedXml},
};

const DataBlock& DataBlockOf(Command command) {
  for (const DataBlock& block : kDataBlocks) {
    if (block.command == command) return block;
  }
  return kDataBlocks[0];  // unreachable: the rows that store text are the four above
}

}  // namespace

bool Session::StoreText(std::string_view argument) {
  const DataBlock& block = DataBlockOf(running);
  Replace(data, data.*block.text, argument);
  if (block.command == Command::kHashedXml) data.hashedXmlGiven = true;
  sink.Send(*block.storedAnswer);
  return true;
}

bool Session::OpenBlock(std::string_view) {
  const DataBlock& block = DataBlockOf(running);
  Replace(data, data.*block.text, {});
  if (block.command == Command::kHashedXml) data.hashedXmlGiven = true;
  blockMode = block.mode;
  sink.Send(*block.openAnswer);
  return true;
}

bool Session::SetOption(std::string_view) {
  // The on/off switches: the setting each changes (none for MD5ON and MD5OFF, which are only
  // answered) and its answer.
  struct Switch {
    Command command;
    bool ConnectionSettings::*setting;
    bool on;
    const char* const* answer;
  };
  static const Switch kSwitches[] = {
      {Command::kB64On, &ConnectionSettings::decodeBase64, true, &texts::kB64On},
      {Command::kB64Off, &ConnectionSettings::decodeBase64, false, &texts::kB64Off},
      {Command::kFindOn, &ConnectionSettings::findCertificate, true, &texts::kFindOn},
      {Command::kFindOff, &ConnectionSettings::findCertificate, false, &texts::kFindOff},
      {Command::kCrlOn, &ConnectionSettings::checkRevocation, true, &texts::kCrlOn},
      {Command::kCrlOff, &ConnectionSettings::checkRevocation, false, &texts::kCrlOff},
      {Command::kHtmlOn, &ConnectionSettings::htmlReport, true, &texts::kHtmlOn},
      {Command::kHtmlOff, &ConnectionSettings::htmlReport, false, &texts::kHtmlOff},
      {Command::kMd5On, nullptr, true, &texts::kMd5On},
      {Command::kMd5Off, nullptr, false, &texts::kMd5Off},
  };
  for (const Switch& option : kSwitches) {
    if (option.command != running) continue;
    if (option.setting != nullptr) settings.*option.setting = option.on;
    sink.Send(*option.answer);
  }
  return true;
}

bool Session::SetHashServer(std::string_view argument) {
  settings.hashServer.assign(argument);
  sink.Send(texts::kHashServerEnabled);
  return true;
}

bool Session::SetLocalHashServer(std::string_view) {
  settings.hashServer = "localhost";
  sink.Send(texts::kHashServerLocal);
  return true;
}

bool Session::ClearHashServer(std::string_view) {
  settings.hashServer.clear();
  sink.Send(texts::kHashServerDisabled);
  return true;
}

bool Session::SetUploadService(std::string_view argument) {
  settings.uploadService.assign(argument);
  sink.Send(argument.empty() ? texts::kUploadDisabled : texts::kUploadEnabled);
  return true;
}

bool Session::SetOidList(std::string_view argument) {
  settings.oidList.assign(argument);
  sink.Send(texts::kOidFilter);
  return true;
}

bool Session::SetKeyLifetime(std::string_view argument) {
  settings.keyLifetimeDays = ParseKeyLifetime(argument);
  sink.Send(platform::FormatText(texts::kKeyLifetimeFormat, settings.keyLifetimeDays));
  return true;
}

bool Session::SetTime(std::string_view argument) {
  if (const std::optional<platform::SystemTime> time = ParseTimeArgument(argument)) {
    settings.verifyTime = *time;
    sink.Send(texts::kTimeSetPrefix + TimeSetText(*time));
  } else {
    sink.Send(texts::kTimeInvalid);
  }
  return true;
}

bool Session::GetHash(std::string_view argument) {
  const auto started = std::chrono::steady_clock::now();
  const std::string hash = handler.GetHash(std::string(argument), settings.hashServer);
  Answer("GETHASH",
         hash.empty() ? RequestAnswer{texts::kHashFailed, "failed"}
                      : RequestAnswer{platform::FormatText(texts::kHashFormat, hash.c_str()),
                                      "digest " + hash},
         started);
  return true;
}

bool Session::AddTimestamp(std::string_view) {
  const auto started = std::chrono::steady_clock::now();
  Answer("ADD TS", handler.AddTimestamp(settings, data), started);
  return true;
}

bool Session::Check(std::string_view) {
  const auto started = std::chrono::steady_clock::now();
  const RequestAnswer answer = handler.Check("CHECK", settings, data);
  if (metrics != nullptr) {
    metrics->CountCheck(answer.verdicts, std::chrono::steady_clock::now() - started);
  }
  Answer("CHECK", answer, started);
  return true;
}

bool Session::Quit(std::string_view) {
  sink.Send(texts::kBye);
  return false;
}

}  // namespace server
