#pragma once

// RequestPipeline runs the requests of the protocol: CHECK, ADD TS and GETHASH. One instance
// serves every connection of a server; it keeps no per-request state.

#include "server/session.h"

namespace server {

class RequestPipeline : public RequestHandler {
 public:
  void Check(std::string_view commandLine, const ConnectionSettings& settings,
             ConnectionData& data, AnswerSink& sink) override;
  void AddTimestamp(const ConnectionSettings& settings, ConnectionData& data,
                    AnswerSink& sink) override;
  std::string GetHash(const std::string& reference, const std::string& hashServer) override;
};

}  // namespace server
