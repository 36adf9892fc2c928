#include "platform/crypto/asn1_blob.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/base/win_status.h"

namespace platform {
namespace {

TEST(Asn1BlobStatus, ClassifiesLikeCryptoApi) {
  struct Case {
    const char* why;
    std::vector<uint8_t> blob;
    uint32_t status;
  };
  const Case kCases[] = {
      {"empty", {}, CRYPT_E_ASN1_EOD},
      {"tag only", {0x30}, CRYPT_E_ASN1_EOD},
      {"not a SEQUENCE", {0x04, 0x01, 0x00}, CRYPT_E_ASN1_BADTAG},
      {"text", {'M', 'I', 'I'}, CRYPT_E_ASN1_BADTAG},
      {"short length, content missing", {0x30, 0x05, 0x02, 0x01}, CRYPT_E_ASN1_EOD},
      {"long length, bytes of the length missing", {0x30, 0x82, 0x01}, CRYPT_E_ASN1_EOD},
      {"long length beyond the blob", {0x30, 0x82, 0x01, 0x00, 0x00}, CRYPT_E_ASN1_EOD},
      {"complete", {0x30, 0x03, 0x02, 0x01, 0x00}, 0},
      {"indefinite length", {0x30, 0x80, 0x00, 0x00}, 0},
      {"length of nine bytes", {0x30, 0x89, 0, 0, 0, 0, 0, 0, 0, 0, 0}, CRYPT_E_ASN1_BADTAG},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(Asn1BlobStatus(c.blob), c.status);
  }
}

}  // namespace
}  // namespace platform
