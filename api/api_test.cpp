#include <gtest/gtest.h>

#include <latch>

#include "api/check_body.h"
#include "api/check_fields.h"
#include "api/check_pool.h"
#include "platform/os/file_io.h"

namespace api {
namespace {

TEST(ParseRfc3339, ReadsTheMomentInUtcWithinTheRangeOfTime) {
  struct Case {
    std::string_view text;
    uint64_t fileTime;  // 0: refused; expected values from Python's calendar.timegm
  };
  const Case kCases[] = {
      {"2026-01-31T12:00:00Z", 134143344000000000},
      {"2026-01-31t12:00:00.987z", 134143344000000000},       // fraction dropped
      {"2026-01-31T15:00:00+03:00", 134143344000000000},      // east of UTC
      {"2026-01-31T09:00:00-03:00", 134143344000000000 + 0},  // and west
      {"2024-02-29T00:00:00Z", 133536384000000000},
      {"1970-01-01T00:00:00Z", 116444736000000000},
      {"3000-12-31T23:59:59Z", 441796895990000000},
      {"2025-02-29T00:00:00Z", 0},       // no such day
      {"2026-01-31T24:00:00Z", 0},       // no such hour
      {"2026-01-31T12:00:60Z", 0},       // leap seconds are not counted
      {"1969-12-31T23:59:59Z", 0},       // before 1970
      {"1970-01-01T02:00:00+03:00", 0},  // before 1970 in UTC
      {"3001-01-01T00:00:00Z", 0},       // after 3000
      {"2026-01-31T12:00:00", 0},        // no offset
      {"2026-01-31T12:00:00+0300", 0},   // offset without its colon
      {"2026-01-31T12:00:00.Z", 0},      // a point without digits
      {"2026-1-31T12:00:00Z", 0},
      {"2026-01-31T12:00:00Z ", 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseRfc3339(c.text).value_or(0), c.fileTime);
  }
}

TEST(FieldBytes, Base64FieldsAreStrictAndFilesAreTakenAsTheyCome) {
  const std::string_view kRefused[] = {"eA=",  "e",     "eA==eA==",        "eA=A",
                                       "e A*", "eA===", "ZXhhbXBsZQ==\x01"};
  for (const std::string_view text : kRefused) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(DecodeBase64Field(text).has_value());
  }
  EXPECT_EQ(DecodeBase64Field("TW\r\nFu"), std::vector<uint8_t>({'M', 'a', 'n'}));
  EXPECT_EQ(DecodeBase64Field("TWE"), std::vector<uint8_t>({'M', 'a'}));  // padding left out
  struct Case {
    std::string file;
    std::vector<uint8_t> bytes;
  };
  const Case kFiles[] = {
      {"-----BEGIN PKCS7-----\r\nTWFu\r\n-----END PKCS7-----\r\n", {'M', 'a', 'n'}},
      {"TWFu\n", {'M', 'a', 'n'}},
      {std::string("\x30\x03\x02\x01\x05", 5), {0x30, 0x03, 0x02, 0x01, 0x05}},  // DER
  };
  for (const Case& c : kFiles) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(FileBlob({reinterpret_cast<const uint8_t*>(c.file.data()), c.file.size()}), c.bytes);
  }
}

TEST(FormCollector, DocumentPastTheHeldSizeGoesIntoARequestFile) {
  FormCollector form(BodyLimits{.heldDocumentBytes = 4});
  ASSERT_FALSE(form.Take("document", 0, "abc"));
  ASSERT_FALSE(form.Take("document", 3, "defg"));
  ASSERT_FALSE(form.Take("signature", 0, "sig"));
  ASSERT_FALSE(form.Take("oid", 0, "1.2.3"));
  ASSERT_FALSE(form.Take("oid", 0, "1.2.4, 1.2.5"));
  std::variant<CheckInput, Problem> finished = form.Finish();
  ASSERT_TRUE(std::holds_alternative<CheckInput>(finished));
  CheckInput& input = std::get<CheckInput>(finished);
  ASSERT_NE(input.documentFile, nullptr);
  const std::string path = input.documentFile->Path();
  std::variant<verify::CheckRequest, Problem> made = MakeCheckRequest(std::move(input));
  ASSERT_TRUE(std::holds_alternative<verify::CheckRequest>(made));
  const verify::CheckRequest& request = std::get<verify::CheckRequest>(made);
  EXPECT_EQ(platform::ReadWhole(request.documentFile.get()),
            std::vector<uint8_t>({'a', 'b', 'c', 'd', 'e', 'f', 'g'}));
  EXPECT_EQ(request.documentFileSize, 7u);
  EXPECT_EQ(request.oidList, "1.2.3,1.2.4,1.2.5");
  EXPECT_FALSE(platform::OpenForReading(path));  // the name is gone, the descriptor reads on
}

TEST(CheckPool, RefusesPastItsLineAndTellsTheWaitingOnesOfTheStop) {
  CheckPoolStart started = CheckPool::Start(1, 1);
  CheckPool& pool = *std::get<0>(started);
  // Shared with the task, which outlives the test when the stop leaves it running.
  auto running = std::make_shared<std::latch>(1), release = std::make_shared<std::latch>(1);
  int dropped = 0;
  PoolTask hold{[running, release] {
                  running->count_down();
                  release->wait();
                },
                [] {}};
  PoolTask wait{[] {}, [&dropped] { ++dropped; }};
  PoolTask refused = wait;
  ASSERT_TRUE(pool.Submit(hold));
  running->wait();
  ASSERT_TRUE(pool.Submit(wait));
  EXPECT_FALSE(pool.Submit(refused));
  EXPECT_EQ(pool.Stop(std::chrono::milliseconds(0)), 1);  // `hold` runs on
  EXPECT_EQ(dropped, 1);
  release->count_down();
}

}  // namespace
}  // namespace api
