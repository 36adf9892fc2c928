#include "server/retrieval.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/base/win_status.h"
#include "tests/fakes/fake_internet.h"

namespace server {
namespace {

namespace fs = std::filesystem;

const std::string kDocument = "<doc>by reference</doc>\r\n";
const std::string kCouldNotOpen = "Error: Could not open inet file.\r\n.\r\n";
// "Error: Ошибка при работе с удаленным файлом (00000000)" in CP1251, written out by hand.
const std::string kTooLarge =
    "Error: \xce\xf8\xe8\xe1\xea\xe0 \xef\xf0\xe8 \xf0\xe0\xe1\xee\xf2\xe5 \xf1 "
    "\xf3\xe4\xe0\xeb\xe5\xed\xed\xfb\xec \xf4\xe0\xe9\xeb\xee\xec (00000000)\r\n.\r\n";
// The GOST R 34.11-94 digest text of the empty document.
const std::string kEmptyDigest = "F352CBF1BBEC72AC01BF91853F9174A37E1E47283C5BE3FC747A2EEDA8BA4E8C";
// Stands for the path of a download's temporary file ("TFR..." with "!" appended).
const std::string kDownloadPath = "<download>";

// Documents by reference, downloaded from a fake: local files, a mounted share and the temporary
// folder in a folder of the test's own.
class Retrieval : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("retrieval-test-" + std::to_string(getpid()));
    temp = root / "tmp";
    for (const fs::path& file :
         {root / "docs/doc.xml", root / "net/host/share/doc.xml", temp / "delivered.xml"}) {
      fs::create_directories(file.parent_path());
      std::ofstream(file, std::ios::binary) << kDocument;
    }
    setenv("TMPDIR", temp.c_str(), 1);
    setenv("QUILMAREND_UNC_ROOT", (root / "net").c_str(), 1);
    const std::vector<uint8_t> bytes(kDocument.begin(), kDocument.end());
    internet.Serve("http://docs.test/doc.xml", bytes);
    internet.Serve("http://docs.test/empty.xml", {});
    internet.Serve("http://docs.test/big.xml", std::vector<uint8_t>(kDocument.size() + 1, 'x'));
    internet.Fail("http://docs.test/missing.xml", platform::ERROR_FILE_NOT_FOUND);
    internet.Fail("http://docs.test/stalled.xml", platform::ERROR_INTERNET_TIMEOUT, {'<', 'd'});
    limits.engine.maxDocumentBytes = kDocument.size();
    engine.limits = limits.engine;
    engine.internet = &internet;
  }
  void TearDown() override {
    fs::remove_all(root);
    unsetenv("TMPDIR");  // the folder is gone; later tests of this process use the default
    unsetenv("QUILMAREND_UNC_ROOT");
  }

  // Resolve returns what the engine gets for `text` with the hash server `hashServer`: the
  // document's bytes, or the refusal's answer.
  std::string Resolve(std::string& text, const std::string& hashServer = "") {
    ConnectionSettings settings;
    settings.hashServer = hashServer;
    StepResult<ResolvedDocument> resolved =
        ResolveDocument(text, settings, limits, engine, nullptr);
    if (const Refusal* refused = std::get_if<Refusal>(&resolved)) return refused->answer;
    const ResolvedDocument& document = std::get<ResolvedDocument>(resolved);
    if (!document.file) return std::string(document.bytes.begin(), document.bytes.end());
    const std::optional<std::vector<uint8_t>> bytes = platform::ReadWhole(document.file.get());
    EXPECT_EQ(bytes ? bytes->size() : 0, document.fileSize);
    return bytes ? std::string(bytes->begin(), bytes->end()) : "<unreadable>";
  }

  fs::path root, temp;
  tests::FakeInternet internet;
  Limits limits;
  verify::EngineContext engine;
};

TEST_F(Retrieval, EachReferenceGivesItsDocumentAndLeavesNoFile) {
  const std::string local = (root / "docs/doc.xml").string();
  const std::string delivered = (temp / "delivered.xml").string();
  struct Case {
    std::string text, hashServer;
    std::string document;  // what the engine gets, or the refusal
    std::string kept;      // the text the next CHECK sees
  };
  const Case kCases[] = {
      {"http://docs.test/doc.xml", "", kDocument, kDownloadPath},
      {"http://docs.test/missing.xml", "", kCouldNotOpen, "http://docs.test/missing.xml"},
      {"http://docs.test/stalled.xml", "", kCouldNotOpen, "http://docs.test/stalled.xml"},
      {"http://docs.test/big.xml", "", kTooLarge, "http://docs.test/big.xml"},
      {"http://docs.test/empty.xml", "localhost", kEmptyDigest, kEmptyDigest},
      {"http://docs.test/big.xml", "localhost", kTooLarge, "http://docs.test/big.xml"},
      {"http://docs.test/doc.xml?old=1", "localhost", kDocument, kDownloadPath},  // no digest
      {"http://docs.test/doc.xml\r\nQUIT", "", kCouldNotOpen, "http://docs.test/doc.xml\r\nQUIT"},
      {"HTTP://docs.test/doc.xml", "", "HTTP://docs.test/doc.xml", "HTTP://docs.test/doc.xml"},
      {"file://" + local + "?part=1#top", "", kDocument, local},
      {"file://host/share/doc.xml", "", kDocument, (root / "net/host/share/doc.xml").string()},
      {"file://" + local + ".absent", "", kCouldNotOpen, local + ".absent"},
      {"tempfile://" + delivered, "", kDocument, delivered},
      {"tempfile://" + local, "", kCouldNotOpen, local},  // outside the temporary folder
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text + " " + c.hashServer);
    std::string text = c.text;
    EXPECT_EQ(Resolve(text, c.hashServer), c.document);
    if (c.kept == kDownloadPath) {
      EXPECT_TRUE(text.starts_with((temp / "TFR").string()) && text.ends_with("!")) << text;
    } else {
      EXPECT_EQ(text, c.kept);
    }
  }
  EXPECT_TRUE(fs::is_empty(temp));  // the delivered file is gone, and no download is left
  EXPECT_TRUE(fs::exists(local));

  // A download that failed is tried again by the next CHECK.
  std::string text = "http://docs.test/missing.xml";
  EXPECT_EQ(Resolve(text), kCouldNotOpen);
  internet.Serve(text, std::vector<uint8_t>(kDocument.begin(), kDocument.end()));
  EXPECT_EQ(Resolve(text), kDocument);
  EXPECT_EQ(internet.Hits("http://docs.test/missing.xml"), 3);
}

}  // namespace
}  // namespace server
