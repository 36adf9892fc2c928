// End-to-end tests of documents given by reference: downloads served on 127.0.0.1, local and
// mounted files, temporary files, the hash-server path and the upload service, each through CHECK.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/check_support.h"
#include "tests/e2e_environment.h"
#include "tests/pki/cms.h"
#include "tests/pki/http_server.h"

namespace tests {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kDocument = "<doc>signed by reference</doc>\r\n";
const std::string kCouldNotOpen = "Error: Could not open inet file.\r\n.\r\n";

void WriteDocument(const fs::path& path) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << kDocument;
}

size_t EntriesIn(const fs::path& folder) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {}));
}

TEST(RetrievalE2E, ReferencesAreFetchedVerifiedAndCleanedUp) {
  const fs::path root = StateRoot();
  const fs::path temp = root / "tmp";
  fs::create_directories(temp);
  setenv("TMPDIR", temp.c_str(), 1);
  setenv("QUILMAREND_UNC_ROOT", (root / "net").c_str(), 1);
  WriteDocument(root / "docs/doc.xml");
  WriteDocument(root / "docs/keep.xml");
  WriteDocument(root / "net/host/share/doc.xml");
  WriteDocument(temp / "delivered.xml");
  WriteDocument(root / "upload/demo/doc.xml");

  const Pki p = MakePki(pki::KeyKind::kEcdsaP256);
  AddToStore(platform::StoreLocation::kLocalMachine, "ROOT", p.root);
  const std::vector<uint8_t> signature = pki::SignDetached(
      std::vector<uint8_t>(kDocument.begin(), kDocument.end()), {{p.leaf, p.leafKey}}, {p.ca});
  std::ofstream(root / "upload/demo/contract.sig") << Base64Lines(signature);
  pki::HttpServer http;
  http.Serve("/doc.xml", std::vector<uint8_t>(kDocument.begin(), kDocument.end()), "text/xml");
  http.ServeStatus("/missing.xml", 404);
  http.ServeRedirect("/moved.xml", http.Url("/doc.xml"));
  http.Serve("/stalled.xml", std::vector<uint8_t>(kDocument.begin(), kDocument.end()), "text/xml");
  http.SetStall("/stalled.xml", 2);
  auto server = StartServer(8);
  const std::string hashServer = "HASHSERVER 127.0.0.1:" + std::to_string(server->BoundPort());
  const size_t tempEntries = EntriesIn(temp);

  // `answer` is the whole answer for failures; "OK" and "80091007" stand for the CheckSignature
  // verdict and its status (the text itself, or a digest text, verified as the document).
  struct Case {
    std::string reference, setting, answer;
    std::string signatureName = "";  // fetched from the upload service instead of sent
  };
  const std::string upload = "UPLOADSERVICE demo";
  const std::string hashMismatch = "80091007";
  const Case kCases[] = {
      {http.Url("/doc.xml"), "", "OK"},
      {http.Url("/missing.xml"), "", kCouldNotOpen},
      {http.Url("/moved.xml"), "", "OK"},
      {http.Url("/stalled.xml"), "", kCouldNotOpen},
      {"file://" + (root / "docs/doc.xml").string(), "", "OK"},
      {"file://" + (root / "docs/absent.xml").string(), "", kCouldNotOpen},
      {"file://host/share/doc.xml?part=1#top", "", "OK"},
      {"tempfile://" + (temp / "delivered.xml").string(), "", "OK"},
      {"tempfile://" + (root / "docs/keep.xml").string(), "", kCouldNotOpen},
      {"HTTP://" + http.Url("/doc.xml").substr(7), "", hashMismatch},
      {http.Url("/doc.xml"), hashServer, hashMismatch},
      {http.Url("/doc.xml") + "?old=1", hashServer, "OK"},
      {"doc.xml", upload, "OK", "contract.sig"},
      {"doc.xml", "UPLOADSERVICE nobody", "error: unknown upload service\r\n", "contract.sig"},
      {"../demo/doc.xml", upload, "error: the file name leaves the service's folder\r\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.reference + " " + c.setting);
    std::optional<TestClient> client = TestClient::Connect(server->BoundPort());
    ASSERT_TRUE(client);
    client->ReadGreeting();
    client->Command("STRS " + c.reference);
    if (c.signatureName.empty()) {
      client->SendBlock("SIGN", Base64Lines(signature));
    } else {
      client->Command("SIGN " + c.signatureName);
    }
    client->Command("CRLOFF");
    if (!c.setting.empty()) client->Command(c.setting);
    client->Send("CHECK\r\n");
    // A stalled peer is given 30 s; the upload service's errors have no "." line.
    const std::string answer =
        c.answer.starts_with("error:") ? client->ReadLine() : client->ReadUntilDot(60000);
    if (c.answer == "OK") {
      EXPECT_EQ(AnswerLine(answer, "CheckSignature"), "OK") << answer;
      // The next CHECK sees the resolved text: a deleted local copy or a path, verified as text.
      if (c.signatureName.empty()) {
        EXPECT_NE(AnswerLine(RunCheck(*client), "CheckSignatureStatus").find(hashMismatch),
                  std::string::npos);
      }
    } else if (c.answer == hashMismatch) {
      EXPECT_NE(AnswerLine(answer, "CheckSignatureStatus").find(hashMismatch), std::string::npos)
          << answer;
    } else {
      EXPECT_EQ(answer, c.answer);
    }
  }
  EXPECT_TRUE(fs::exists(root / "docs/doc.xml"));
  EXPECT_TRUE(fs::exists(root / "docs/keep.xml"));
  EXPECT_FALSE(fs::exists(temp / "delivered.xml"));
  EXPECT_EQ(EntriesIn(temp), tempEntries - 1);  // the delivered file is gone, nothing was left
}

}  // namespace
}  // namespace tests
