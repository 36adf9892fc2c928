#pragma once

// Session is the protocol of one connection without its socket: it takes received lines, keeps
// the connection's settings and data blocks, answers every settings command and hands CHECK,
// ADD TS and GETHASH to a RequestHandler. Feeding it bytes through a LineReader gives exactly the
// conversation a client has over TCP, which is how the tests and the fuzz target drive it.
//
// Example:
//   Session session(handler, sink);
//   while (auto line = reader.NextLine())
//     if (!session.HandleLine(*line)) break;  // QUIT

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "server/block_buffer.h"
#include "server/commands.h"
#include "server/connection_state.h"
#include "server/server_metrics.h"

namespace server {

// AnswerSink takes the connection's answers; each call is one whole answer (one send).
class AnswerSink {
 public:
  virtual ~AnswerSink() = default;
  virtual void Send(std::string_view answer) = 0;
};

// RequestAnswer is what a request gives back: the whole answer, sent in one piece, and what the
// request's info line says of it (for CHECK the three verdicts with their codes and the signer).
struct RequestAnswer {
  RequestAnswer() = default;
  RequestAnswer(std::string answerText, std::string summaryText,
                std::optional<CheckVerdicts> checkVerdicts = std::nullopt)
      : answer(std::move(answerText)), summary(std::move(summaryText)), verdicts(checkVerdicts) {}

  std::string answer;
  std::string summary;
  std::optional<CheckVerdicts> verdicts;  // a CHECK that was verified, not refused
};

// RequestHandler runs the commands that reach beyond the connection.
class RequestHandler {
 public:
  virtual ~RequestHandler() = default;
  // Check runs CHECK for `commandLine` and returns its whole answer, or its error answer. It may
  // replace the document and signature texts in `data` with what it resolved.
  virtual RequestAnswer Check(std::string_view commandLine, const ConnectionSettings& settings,
                              ConnectionData& data) = 0;
  // AddTimestamp runs ADD TS and returns its answer.
  virtual RequestAnswer AddTimestamp(const ConnectionSettings& settings, ConnectionData& data) = 0;
  // GetHash returns the digest text of the document `reference`, computed as `hashServer` says;
  // empty on failure.
  virtual std::string GetHash(const std::string& reference, const std::string& hashServer) = 0;
};

enum class BlockMode { kNone, kStrs, kSign, kCert, kHashedXml };

class Session {
 public:
  // `peerName` names the client ("192.0.2.7:51234") in the info line each request writes;
  // `counts`, when given, counts the commands and CHECKs (not owned).
  Session(RequestHandler& requestHandler, AnswerSink& answerSink, std::string peerName = "",
          ServerMetrics* counts = nullptr)
      : handler(requestHandler), sink(answerSink), peer(std::move(peerName)), metrics(counts) {}

  // HandleLine runs one received line; `line` ends with its line feed. Returns false when the
  // connection must end now (after the answer to QUIT or EXIT).
  [[nodiscard]] bool HandleLine(std::string_view line);

  // OpenBlockBytes is the size of the block being received, 0 outside a block.
  size_t OpenBlockBytes() const;
  // HeldBytes is the memory the data blocks take, finished or open: what is allocated for their
  // texts, which may be more than their bytes.
  size_t HeldBytes() const;

  // Settings are the connection's settings as its commands have set them.
  const ConnectionSettings& Settings() const { return settings; }
  // Data are the connection's finished data blocks and texts.
  const ConnectionData& Data() const { return data; }
  // OpenBlockMode is the kind of block being received, kNone outside a block.
  BlockMode OpenBlockMode() const { return blockMode; }

 private:
  // CommandRow is one row of the command table: the line it matches, the command it counts as,
  // and what runs it (given the argument; false ends the connection). The rows are tried in
  // order and the first that matches runs; a line no row matches is answered "error: What?".
  struct CommandRow {
    Command command;
    CommandMatch match;
    bool (Session::*run)(std::string_view argument);
  };
  static const CommandRow kCommandRows[];

  void AddBlockLine(std::string_view line);
  bool RunCommand(std::string_view line);
  bool StoreText(std::string_view argument);  // the one-line forms of the data blocks
  bool OpenBlock(std::string_view argument);
  bool SetOption(std::string_view argument);  // the on/off switches, by the row's command
  bool SetHashServer(std::string_view argument);
  bool SetLocalHashServer(std::string_view argument);
  bool ClearHashServer(std::string_view argument);
  bool SetUploadService(std::string_view argument);
  bool SetOidList(std::string_view argument);
  bool SetKeyLifetime(std::string_view argument);
  bool SetTime(std::string_view argument);
  bool GetHash(std::string_view argument);
  bool AddTimestamp(std::string_view argument);
  bool Check(std::string_view argument);
  bool Quit(std::string_view argument);
  // Answer logs the info line of the request `command`, begun at `started`, and sends its answer.
  void Answer(const char* command, const RequestAnswer& answer,
              std::chrono::steady_clock::time_point started);
  std::string* BlockText();

  RequestHandler& handler;
  AnswerSink& sink;
  const std::string peer;
  ServerMetrics* const metrics;
  ConnectionSettings settings;
  ConnectionData data;
  BlockMode blockMode = BlockMode::kNone;
  BlockBuffer openBlock;  // the open block's text; its field in `data` is empty meanwhile
  std::string_view previousLineEnd;  // ending of the line before the current one
  std::string_view currentLineEnd;
  Command running = Command::kOther;  // the command of the row that runs now
};

}  // namespace server
