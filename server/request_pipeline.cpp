#include "server/request_pipeline.h"

#include "server/texts.h"

namespace server {

void RequestPipeline::Check(std::string_view, const ConnectionSettings&, ConnectionData&,
                            AnswerSink& sink) {
  sink.Send(texts::kWhat);  // the verification pipeline is not wired in yet
}

void RequestPipeline::AddTimestamp(const ConnectionSettings&, ConnectionData&, AnswerSink& sink) {
  sink.Send("error: CAdES not supported\r\n");
}

std::string RequestPipeline::GetHash(const std::string&, const std::string&) { return {}; }

}  // namespace server
