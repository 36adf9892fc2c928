// An upload service library that puts its copies in a folder of its own, outside the temporary
// folder: the server reads and deletes them where they are. This program runs in a folder of its
// own, beside that library under the name the server looks for.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "tests/check_support.h"
#include "tests/e2e_environment.h"
#include "tests/pki/cms.h"

namespace tests {
namespace {

namespace fs = std::filesystem;

TEST(UploadElsewhereE2E, CopiesAreReadAndDeletedWhereTheServicePutThem) {
  const fs::path folder = fs::path(StateRoot()) / "service";
  fs::create_directories(folder / "copies");
  setenv("ELSEWHERE_FOLDER", folder.c_str(), 1);
  constexpr std::string_view kDocument = "<doc>kept elsewhere</doc>";
  std::ofstream(folder / "doc.xml", std::ios::binary) << kDocument;
  const Pki p = MakePki(pki::KeyKind::kEcdsaP256);
  AddToStore(platform::StoreLocation::kLocalMachine, "ROOT", p.root);
  const std::vector<uint8_t> signature = pki::SignDetached(
      std::vector<uint8_t>(kDocument.begin(), kDocument.end()), {{p.leaf, p.leafKey}}, {p.ca});
  std::ofstream(folder / "contract.sig") << Base64Lines(signature);
  auto server = StartServer(2);

  std::optional<TestClient> client = TestClient::Connect(server->BoundPort());
  ASSERT_TRUE(client);
  client->ReadGreeting();
  for (const char* command :
       {"CRLOFF", "UPLOADSERVICE elsewhere", "SIGN contract.sig", "STRS doc.xml"}) {
    client->Command(command);
  }
  EXPECT_EQ(AnswerLine(RunCheck(*client), "CheckSignature"), "OK");
  EXPECT_TRUE(fs::is_empty(folder / "copies"));
  EXPECT_TRUE(fs::exists(folder / "doc.xml"));
}

}  // namespace
}  // namespace tests
