// The HTTP/JSON front beside a line-protocol server sharing its archive, over real sockets; every
// verification's answer is checked against deploy/openapi.json by tests/check_answers.py.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "api/http_front.h"
#include "platform/base/cp1251.h"
#include "tests/check_support.h"
#include "tests/e2e_environment.h"
#include "tests/fakes/fake_internet.h"
#include "tests/pki/cms.h"
#include "platform/base/base64.h"

namespace tests {
namespace {

constexpr std::string_view kDocument = "<doc>signed over HTTP</doc>\r\n";

std::string Base64(std::string_view text) {
  return platform::Base64Encode(std::vector<uint8_t>(text.begin(), text.end()));
}

std::string Request(const std::string& head, const std::string& body) {
  return head +
         "Host: test\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

// Form is a POST /v1/check with the multipart/form-data parts `parts`.
std::string Form(const std::vector<std::pair<std::string, std::string>>& parts) {
  std::string body;
  for (const auto& [name, value] : parts) {
    body += "--XyZ\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + name +
            "\"\r\n\r\n" + value + "\r\n";
  }
  return Request("POST /v1/check HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=XyZ\r\n",
                 body + "--XyZ--\r\n");
}

std::string Json(const nlohmann::json& body) {
  return Request("POST /v1/check HTTP/1.1\r\nContent-Type: application/json\r\n", body.dump());
}

class HttpE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeSigner(LeafSpec());
    std::filesystem::create_directories(answers);
  }

  // MakeSigner issues `leaf` under a trusted root, files it and signs kDocument with it.
  void MakeSigner(const pki::CertSpec& leaf) {
    pki = MakePki(pki::KeyKind::kEcdsaP256, leaf);
    AddToStore(platform::StoreLocation::kLocalMachine, "ROOT", pki.root);
    AddToStore(platform::StoreLocation::kCurrentUser, "MY", pki.leaf);
    const std::vector<uint8_t> bytes =
        pki::SignDetached(std::vector<uint8_t>(kDocument.begin(), kDocument.end()),
                          {{pki.leaf, pki.leafKey}}, {pki.ca});
    signature.assign(bytes.begin(), bytes.end());
  }

  // Every answer must match its schema in the OpenAPI description.
  void TearDown() override {
    if (exchanges == 0) return;
    const std::string command = "/usr/bin/python3 " QUILMAREND_SOURCE_DIR
                                "/tests/check_answers.py " QUILMAREND_SOURCE_DIR
                                "/deploy/openapi.json " +
                                answers + "/* 2>&1";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    if (pclose(pipe) != 0) ADD_FAILURE() << output;
  }

  void Serve(const api::FrontSetup& given = api::FrontSetup(),
             platform::Internet* internet = nullptr) {
    api::FrontSetup setup = given;
    server::ServerSetup serverSetup;
    serverSetup.metricsListen = platform::ListenEndpoint{"127.0.0.1", 0};
    server = StartServer(2, serverSetup);
    setup.listen = {"127.0.0.1", 0};
    if (internet != nullptr) setup.engine.internet = internet;
    api::FrontStart started = api::HttpFront::Start(setup, server->CertArchive(), server->HeldBytes());
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<api::HttpFront>>(started));
    front = std::move(std::get<0>(started));
    server->AttachFront(front->Status());
  }

  // Exchange returns the response to `request` at `port` (0: the front's), keeping POST answers.
  std::string Exchange(const std::string& request, int port = 0) {
    std::optional<TestClient> client = TestClient::Connect(port != 0 ? port : front->BoundPort());
    if (!client || !client->Send(request)) return "";
    client->WaitClosed(20000);
    if (request.starts_with("POST")) {
      std::ofstream(answers + "/" + std::to_string(++exchanges), std::ios::binary)
          << client->Pending();
    }
    return client->Pending();
  }

  Pki pki;
  std::string signature;
  const std::string answers = StateRoot() + "/answers";
  int exchanges = 0;
  std::unique_ptr<server::TCPServer> server;
  std::unique_ptr<api::HttpFront> front;
};

std::string StatusLine(const std::string& response) {
  return response.substr(0, response.find("\r\n"));
}

nlohmann::json BodyOf(const std::string& response) {
  const size_t body = response.find("\r\n\r\n");
  return nlohmann::json::parse(response.substr(body == std::string::npos ? 0 : body + 4), nullptr,
                               false);
}

TEST_F(HttpE2E, AnswersWhatCheckAnswersOnTheSameBytes) {
  Serve();
  const std::string changed = "<doc>changed over HTTP</doc>\r\n";
  const std::string pem = "-----BEGIN PKCS7-----\n" + Base64(signature) + "\n-----END PKCS7-----\n";
  struct Case {
    const char* name;
    std::string request;
    std::string document, signature;  // as CHECK gets them
    bool valid;
    const char* signatureStatus;
  };
  const std::string document(kDocument);
  const auto form = [](const std::string& text, const std::string& bytes) {
    return Form({{"document", text}, {"signature", bytes}, {"revocation", "false"}});
  };
  const Case kCases[] = {
      {"form, DER", form(document, signature), document, signature, true, "00000000"},
      {"form, PEM", form(document, pem), document, signature, true, "00000000"},
      {"JSON with the report",
       Json({{"document", Base64(kDocument)},
             {"signature", Base64(signature)},
             {"revocation", false},
             {"report", "html"}}),
       document, signature, true, "00000000"},
      // 0x80091007 CRYPT_E_HASH_VALUE: the document changed after signing.
      {"changed document", form(changed, signature), changed, signature, false, "80091007"},
      // 0x8009310B CRYPT_E_ASN1_BADTAG: not a CMS message, a verdict and not a refusal.
      {"not a signature", form(document, document), document, document, false, "8009310b"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string response = Exchange(c.request);
    ASSERT_EQ(StatusLine(response), "HTTP/1.1 200 OK") << response;
    const nlohmann::json answer = BodyOf(response);
    EXPECT_EQ(answer["valid"], c.valid);
    EXPECT_EQ(answer["signature"]["status"], c.signatureStatus);
    TestClient line =
        CheckClient(server->BoundPort(), c.document,
                    std::vector<uint8_t>(c.signature.begin(), c.signature.end()), {"CRLOFF"});
    const std::string check = RunCheck(line);
    const auto text = [&check](const char* name) {
      return platform::Cp1251ToUtf8(AnswerLine(check, name));
    };
    EXPECT_EQ(answer["signature"]["ok"], text("CheckSignature") == "OK");
    EXPECT_EQ(answer["signature"]["text"], text("CheckSignatureStatus"));
    EXPECT_EQ(answer["certificate"]["text"], text("FindCertificateStatus"));
    EXPECT_EQ(answer["chain"]["text"], text("CheckChainStatus"));
    if (c.valid) {
      EXPECT_EQ(answer["signer"]["subjectX500"], text("SubjectX500"));
      EXPECT_EQ(answer["signer"]["serial"], "00A1B2");
      EXPECT_EQ(answer["signer"]["keyAlgorithm"], "1.2.840.10045.2.1");  // id-ecPublicKey
    } else if (c.signatureStatus == std::string("8009310b")) {
      EXPECT_TRUE(answer["signer"].is_null());
      EXPECT_EQ(answer["chain"]["reasons"], nlohmann::json::array());
    }
    if (answer["report"].is_string()) {
      EXPECT_NE(answer["report"].get<std::string>().find("Подпись верна"), std::string::npos);
    }
  }
}

TEST_F(HttpE2E, RefusesWithItsStatusAndProblemType) {
  api::FrontSetup setup;
  setup.maxJsonBytes = 1024;
  setup.body.maxXmlDocumentBytes = 64;
  Serve(setup);
  const std::string json = "POST /v1/check HTTP/1.1\r\nContent-Type: application/json\r\n";
  struct Case {
    std::string request;
    const char* status;
    const char* type;
  };
  const Case kCases[] = {
      {Form({{"document", "x"}}), "400", "missing-part"},
      {Form({{"signature", signature}}), "400", "missing-part"},
      {Form({{"document", "x"}, {"signedInfo", "y"}, {"signature", signature}}), "400",
       "duplicate-part"},
      {Form({{"document", "x"}, {"signature", signature}, {"colour", "red"}}), "400",
       "unknown-field"},
      {Form({{"document", "x"}, {"signature", signature}, {"time", "2026-02-30T00:00:00Z"}}), "400",
       "bad-field"},
      {Json({{"document", "eA=="}, {"signature", "not base64!"}}), "400", "not-base64"},
      {Json({{"document", "eA=="}, {"signature", "eA=="}, {"revocation", "no"}}), "400",
       "bad-field"},
      {Request(json, "{\"document\": "), "400", "malformed-body"},
      {Request("POST /v1/check HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=XyZ\r\n",
               "--XyZ\r\nContent-Disposition: form-data; name=\"document\"\r\n\r\nx"),
       "400", "malformed-body"},
      {Request("GET /v1/checks HTTP/1.1\r\n", ""), "404", "not-found"},
      {Request("GET /v1/check HTTP/1.1\r\n", ""), "405", "method-not-allowed"},
      {json + "Host: test\r\nConnection: close\r\n\r\n", "411", "length-required"},
      {Request(json, std::string(2048, ' ')), "413", "too-large"},
      {Form({{"signedInfo", "<a>" + std::string(64, 'x') + "</a>"},
             {"signature", "x"},
             {"certificate", "x"},
             {"hashedXml", "<a/>"}}),
       "413", "too-large"},
      {Request("POST /v1/check HTTP/1.1\r\nContent-Type: text/plain\r\n", "x"), "415",
       "unsupported-media-type"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.request.substr(0, 200));
    const std::string response = Exchange(c.request);
    EXPECT_EQ(StatusLine(response).substr(9, 3), c.status);
    EXPECT_NE(response.find("Content-Type: application/problem+json"), std::string::npos);
    EXPECT_EQ(BodyOf(response)["type"], std::string("urn:quilmarend:problem:") + c.type);
  }
  EXPECT_NE(Exchange(kCases[10].request).find("Allow: POST\r\n"), std::string::npos);
}

TEST_F(HttpE2E, ServesThePageUnderAStrictPolicyAndTheDescriptionAsShipped) {
  Serve();
  const std::string page = Exchange("GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(StatusLine(page), "HTTP/1.1 200 OK");
  EXPECT_NE(page.find("Content-Security-Policy: default-src 'self'; "), std::string::npos);
  EXPECT_NE(page.find("X-Content-Type-Options: nosniff"), std::string::npos);
  // Scripts come only from files of the page's own origin.
  for (size_t at = page.find("<script"); at != std::string::npos;
       at = page.find("<script", at + 1)) {
    EXPECT_EQ(page.substr(at, 14), "<script src=\"/");
  }
  const std::string description = Exchange("GET /v1/openapi.json HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(
      description.ends_with("\r\n\r\n" + ReadFile(QUILMAREND_SOURCE_DIR "/deploy/openapi.json")));
}

TEST_F(HttpE2E, FullPoolAnswers503AndTheHealthPageSaysWhy) {
  pki::CertSpec leaf = LeafSpec();
  leaf.crlUrls = {"http://ca.test/held.crl"};
  MakeSigner(leaf);
  FakeInternet internet;
  internet.Hold("http://ca.test/held.crl", {});
  api::FrontSetup setup;
  setup.workers = 1;
  setup.maxWaiting = 0;
  Serve(setup, &internet);
  const std::string request =
      Form({{"document", std::string(kDocument)}, {"signature", signature}});
  std::string held;
  std::thread first([&] { held = Exchange(request); });
  internet.WaitHeld();
  const std::string busy = Exchange(request);
  EXPECT_EQ(StatusLine(busy), "HTTP/1.1 503 Service Unavailable");
  EXPECT_NE(busy.find("Retry-After: 1\r\n"), std::string::npos);
  EXPECT_EQ(BodyOf(busy)["type"], "urn:quilmarend:problem:busy");
  const std::string health = Exchange("GET /healthz HTTP/1.0\r\n\r\n", server->MetricsPort());
  EXPECT_TRUE(health.ends_with("\r\n\r\nHTTP: all 1 workers busy and 0 requests waiting\n"))
      << health;
  const std::string metrics = Exchange("GET /metrics HTTP/1.0\r\n\r\n", server->MetricsPort());
  EXPECT_NE(metrics.find("quilmarend_http_requests_total{endpoint=\"/v1/check\",code=\"5xx\"} 1\n"),
            std::string::npos);
  internet.Release();
  first.join();
  EXPECT_EQ(StatusLine(held), "HTTP/1.1 200 OK");
  // The held CRL never came: CERT_TRUST_REVOCATION_STATUS_UNKNOWN | ..._IS_OFFLINE_REVOCATION.
  EXPECT_EQ(
      BodyOf(held)["chain"]["reasons"],
      nlohmann::json({"CERT_TRUST_REVOCATION_STATUS_UNKNOWN", "CERT_TRUST_IS_OFFLINE_REVOCATION"}));
}

}  // namespace
}  // namespace tests
