#include "server/upload_service.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/base/hex.h"
#include "platform/base/last_error.h"
#include "platform/base/system_messages.h"
#include "platform/os/dyn_lib.h"

namespace server {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A private state root and temporary folder; the library reads the state root once per process.
fs::path MakeRoot() {
  static const fs::path root =
      fs::temp_directory_path() / ("upload-test-" + std::to_string(getpid()));
  const fs::path demo = root / "home/upload/demo";
  fs::create_directories(demo);
  fs::create_directories(root / "tmp");
  WriteFile(demo / "1234567.sig", std::string("MIIBsig\0tail", 12));
  WriteFile(demo / "a.sig", "short");
  WriteFile(demo / "0123456789abcdef0123456789abcdef.p7s", "MII36");
  WriteFile(demo / "exactly1m.sig", std::string(0x100000, 'A'));
  WriteFile(demo / "toolarge.sig", std::string(0x100001, 'A'));
  WriteFile(demo / "doc.xml", "<doc/>");
  WriteFile(root / "outside.sig", "MIIoutside");
  fs::create_symlink(root / "outside.sig", demo / "planted1.sig");
  mkfifo((demo / "fifo12345.sig").c_str(), 0600);
  setenv("QUILMAREND_HOME", (root / "home").c_str(), 1);
  setenv("TMPDIR", (root / "tmp").c_str(), 1);
  return root;
}

TEST(UploadService, FetchesSignaturesAndDocumentsFromTheServiceFolder) {
  struct Case {
    bool document;  // the document step, else the signature step
    // `after`: the text afterwards (for a fetched document, its content); `answer`: none on success
    std::string service, text, after, answer;
  };
  const std::string kLeaves = "error: the file name leaves the service's folder\r\n";
  const Case kCases[] = {
      {false, "demo", "1234567.sig", "MIIBsig", ""},  // 11 bytes: fetched, cut at NUL
      {false, "demo", "a.sig", "a.sig", ""},          // too short: left alone
      {false, "demo", "0123456789abcdef0123456789abcdef.p7s", "MII36", ""},  // 36 bytes
      {false, "demo", "exactly1m.sig", std::string(0x100000, 'A'), ""},
      {false, "demo", "toolarge.sig", "toolarge.sig", ""},  // over 1 MiB: unchanged
      {false, "nosuch", "1234567.sig", "1234567.sig", "error: unknown upload service\r\n"},
      {false, "demo", "missing1.sig", "missing1.sig",
       "error: file not found in the upload service\r\n"},
      {false, "demo", "..secret.sig", "..secret.sig", kLeaves},
      // A link planted in the folder is not followed, a FIFO not waited on.
      {false, "demo", "planted1.sig", "planted1.sig",
       "error: file not found in the upload service\r\n"},
      {false, "demo", "fifo12345.sig", "fifo12345.sig",
       "error: file not found in the upload service\r\n"},
      {false, ".", "demo/a/b.sig", "demo/a/b.sig", "error: unknown upload service\r\n"},
      {false, "", "1234567.sig", "1234567.sig", "error: unknown upload service\r\n"},
      {false, "demo\r\nQUIT", "1234567.sig", "1234567.sig",
       "Error: Could not open inet file.\r\n.\r\n"},
      {true, "demo", "doc.xml", "<doc/>", ""},
      {true, "demo", "<doc>inline</doc>", "<doc>inline</doc>", kLeaves},
      {true, "demo", "", "", "error: no file name given\r\n"},
  };
  const fs::path root = MakeRoot();
  const std::string tempfilePrefix = "tempfile://" + (root / "tmp").string() + "/vantorix-";
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    std::string text = c.text;
    std::unique_ptr<platform::RequestFile> copy;
    std::optional<Refusal> refused;
    if (c.document) {
      auto fetched = FetchUploadDocument(c.service, text);
      if (auto* file = std::get_if<0>(&fetched)) copy = std::move(*file);
      if (auto* refusal = std::get_if<Refusal>(&fetched)) refused = std::move(*refusal);
    } else {
      refused = FetchUploadSignature(c.service, text);
    }
    const bool ok = !refused;
    EXPECT_EQ(ok, c.answer.empty());
    EXPECT_EQ(refused ? refused->answer : "", c.answer);
    if (c.document && ok) {
      ASSERT_TRUE(text.starts_with(tempfilePrefix)) << text;
      std::string content;
      std::ifstream(text.substr(11)) >> content;
      EXPECT_EQ(content, c.after);
      ASSERT_TRUE(copy);
      EXPECT_EQ(copy->Path(), text.substr(11));
      copy.reset();  // the request is over: its copy goes
    } else {
      EXPECT_TRUE(text == c.after) << text.substr(0, 40);  // a 1 MiB text is not printed
    }
    EXPECT_TRUE(fs::is_empty(root / "tmp"));  // the signature step deletes what it fetched
  }
  fs::remove_all(root);
}

TEST(UploadService, FailedLoadIsModNotFound) {
  platform::SetLastError(0);
  EXPECT_EQ(platform::DynamicLibrary::Load("/nonexistent/libvantorix.so", nullptr), nullptr);
  EXPECT_EQ(platform::GetLastError(), 0x0000007Eu);
  platform::SetLastError(0);
  EXPECT_EQ(platform::DynamicLibrary::LoadFromSearchPath("libnone.so", nullptr), nullptr);
  EXPECT_EQ(platform::GetLastError(), 0x0000007Eu);
  EXPECT_EQ(platform::HexText(platform::SystemMessage(0x7E), platform::HexCase::kLower),
            "cde520ede0e9e4e5ed20f3eae0e7e0ededfbe920eceee4f3ebfc2e");  // CP1251, by hand
}

}  // namespace
}  // namespace server
