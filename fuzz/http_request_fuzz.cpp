// Feeds arbitrary bodies to POST /v1/check of a real HTTP front on 127.0.0.1 (form boundaries and
// parts, JSON members, Base64, options) and checks that one whole answer comes back: 200 with the
// members of a verification, or a 400, 413 or 500 problem whose status is the answer's.
// Input: byte 0 & 1 picks multipart/form-data (boundary "xyzzy") or application/json; the rest
// is the body. Downloads fail at once, so a chain never waits.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "api/http_front.h"
#include "fuzz/require.h"
#include "platform/crypto/crypto_library.h"
#include "server/held_budget.h"
#include "tests/fakes/fake_internet.h"
#include "tests/test_client.h"
#include "verify/tmp_cert_arhive.h"

namespace fuzz {
namespace {

api::HttpFront& Front() {
  static tests::FakeInternet internet;
  static const std::unique_ptr<api::HttpFront> front = [] {
    // OpenSSL first: its clean-up at exit then runs after the front's threads have ended.
    platform::EnsureCryptoLibrary();
    api::FrontSetup setup;
    setup.listen = {"127.0.0.1", 0};
    setup.workers = 1;
    setup.maxJsonBytes = 1 << 20;
    setup.body.heldDocumentBytes = 64;  // so that a document goes into a request file too
    setup.engine.internet = &internet;
    api::FrontStart started =
        api::HttpFront::Start(setup, std::make_shared<verify::TmpCertArhive>(),
                              std::make_shared<server::HeldBudget>(uint64_t{2048} << 20));
    Require(std::holds_alternative<std::unique_ptr<api::HttpFront>>(started), "the front starts");
    return std::move(std::get<0>(started));
  }();
  return *front;
}

}  // namespace
}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  using fuzz::Require;
  if (size == 0) return 0;
  const std::string body(reinterpret_cast<const char*>(bytes) + 1, size - 1);
  const bool json = (bytes[0] & 1) != 0;
  const std::string request =
      std::string("POST /v1/check HTTP/1.1\r\nHost: fuzz\r\nConnection: close\r\nContent-Type: ") +
      (json ? "application/json" : "multipart/form-data; boundary=xyzzy") +
      "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  std::optional<tests::TestClient> client = tests::TestClient::Connect(fuzz::Front().BoundPort());
  Require(client && client->Send(request), "the front takes the request");
  Require(client->WaitClosed(30000), "the front answers and closes");
  const std::string& response = client->Pending();
  const size_t head = response.find("\r\n\r\n");
  Require(head != std::string::npos && response.starts_with("HTTP/1.1 "), "a whole head");
  const int status = std::atoi(response.c_str() + 9);
  const size_t length = response.find("Content-Length: ");
  Require(length != std::string::npos && length < head &&
              std::stoul(response.substr(length + 16)) == response.size() - head - 4,
          "a body of its Content-Length");
  Require(status == 200 || status == 400 || status == 413 || status == 500, "a known status");
  const nlohmann::json answer = nlohmann::json::parse(response.substr(head + 4), nullptr, false);
  Require(answer.is_object(), "a JSON object");
  if (status == 200) {
    Require(
        answer.size() == 7 && answer["valid"].is_boolean() && answer["chain"]["reasons"].is_array(),
        "the members of a verification");
  } else {
    Require(answer["type"].is_string() &&
                answer["type"].get<std::string>().starts_with("urn:quilmarend:problem:") &&
                answer["status"] == status,
            "a problem of the answer's status");
  }
  return 0;
}
