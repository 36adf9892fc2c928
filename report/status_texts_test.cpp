#include "report/status_texts.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/base/win_status.h"

namespace report {
namespace {

std::string FromHex(std::string_view hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  }
  return bytes;
}

// The chain phrases in Windows-1251, worked out from the code page chart, by table row.
const char* const kPhraseHex[] = {
    "d1e5f0f2e8f4e8eae0f220ede5e4e5e9f1f2e2e8f2e5ebe5ed20e220e4e0ededfbe920eceeece5edf22e20",
    "c220f6e5efeef7eae520f1e5f0f2e8f4e8eae0f2eee220e2f0e5ecff20ede5eff0e0e2e8ebfcedeee52e20",
    "cee4e8ed20e8e720f1e5f0f2e8f4eae0f2eee220e220f6e5efeef7eae520e1fbeb20e0ededf3ebe8f0eee2e0ed2e2"
    "0",
    "cde5e2e5f0ede0ff20efeee4efe8f1fc20f1e5f0f2e8f4e8eae0f2e02e20",
    "d1e5f0f2e8f4e8eae0f220f1e5f0e2e5f0e020ede520eee4eee1f0e5ed20e4ebff20f2e0eae8f520f1eee5e4e8ede5"
    "ede8e92e20",
    "caeef0ede5e2eee920f1e5f0f2e8f4e8eae0f220f6e5efeef7eae820ede520ffe2ebffe5f2f1ff20e4eee2e5f0e5"
    "ededfbec2e20",
    "d1f2e0f2f3f120e0ededf3ebe8f0eee2e0ede8ff20f1e5f0f2e8f4e8eae0f2eee220ede520e2fbfff1ede5ed2e20",
    "d6e8eaebe8f7e5f1eae0ff20e7e0e2e8f1e8eceef1f2fc20f1e5f0f2e8f4e8eae0f2eee22e20",
    "cee4e8ed20e8e720f1e5f0f2e8f4e8eae0f2eee220e220f6e5efeef7eae520ede520ffe2ebffe5f2f1ff20e4eee2"
    "e5f0e5ededfbec2e20",
    "d6e5efeef7eae020eff0eee2e5f0eae820f1e5f0f2e8f4e8eae0f2eee220ede5e4e5e9f1f2e2e8f2e5ebfcede0ff20"
    "e220e4e0ededfbe920eceeece5edf22e20",
    "d6e5efeef7eae020eff0eee2e5f0eae820f1e5f0f2e8f4e8eae0f2eee220ede520e8ece5e5f220eff0e0e2e8ebfced"
    "eee920efeee4efe8f1e82e20",
    "d6e5efeef7eae020eff0eee2e5f0eae820f1e5f0f2e8f4e8eae0f2eee220ede520eee4eee1f0e5ede020e4ebff20f2"
    "e0eaeee3ee20e8f1efeeebfce7eee2e0ede8ff2e20",
    "cde520f3e4e0ebeef1fc20e7e0e3f0f3e7e8f2fc20e4e5e9f1f2e2f3fef9e8e920f1efe8f1eeea20eef2eee7e2e0ed"
    "edfbf520f1e5f0f2e8f4e8eae0f2eee22e20",
};

std::string Phrase(int row) { return FromHex(kPhraseHex[row - 1]); }

TEST(SignatureStatusText, CodeAloneOrAfterTheDetail) {
  verify::VerifyResult result;
  EXPECT_EQ(SignatureStatusText(result), "00000000");
  result.signatureDetail = "";
  EXPECT_EQ(SignatureStatusText(result), " 00000000");  // the detail's blank stays
  const std::string mismatch = FromHex("d5fdf820e4e0ededfbf520ede520f1eee2efe0e4e0e5f22e");
  result.signatureDetail = mismatch;  // "Хэш данных не совпадает."
  result.signatureStatus = platform::NTE_BAD_SIGNATURE;
  EXPECT_EQ(SignatureStatusText(result),
            mismatch + " " + FromHex("cde5eff0e0e2e8ebfcede0ff20efeee4efe8f1fc2e") +
                " (80090006)");  // "Неправильная подпись."
}

TEST(CertificateStatusText, SpecialCodesHaveNoSystemText) {
  verify::VerifyResult result;
  result.certificateStatus = 0xFFFFFFFF;
  EXPECT_EQ(CertificateStatusText(result), "ffffffff");
  result.certificateStatus = platform::CRYPT_E_NOT_FOUND;  // "Объект или свойство не найдены."
  EXPECT_EQ(
      CertificateStatusText(result),
      FromHex("cee1fae5eaf220e8ebe820f1e2eee9f1f2e2ee20ede520ede0e9e4e5edfb2e") + " (80092004)");
  result.certificateStatus = 0x12345678;  // no message: the text is empty, the code remains
  EXPECT_EQ(CertificateStatusText(result), " (12345678)");
}

TEST(ChainStatusText, JoinsThePhrasesOfTheSetBitsInTableOrder) {
  struct Case {
    uint32_t status;
    std::string expected;
  };
  std::string allPhrases;
  for (int row = 1; row <= 13; ++row) allPhrases += Phrase(row);
  const Case kCases[] = {
      {0, ""},
      {0x00000020, Phrase(6) + " (00000020)"},  // two blanks: no system text for 32
      {0x01000040, Phrase(7) + Phrase(13) + " (01000040)"},
      {0x00000100, " (00000100)"},  // a bit without a phrase
      {0xFFFFFFFF, allPhrases + " (ffffffff)"},
      // Key lifetime exceeded: the code's bits select rows 1, 2, 3, 5, 9, 12.
      {0x80090317, Phrase(1) + Phrase(2) + Phrase(3) + Phrase(5) + Phrase(9) + Phrase(12) +
                       FromHex("c8f1f2e5ea20f1f0eeea20e4e5e9f1f2e2e8ff20e7e0eaf0fbf2eee3ee20eaebfe"
                               "f7e020f1e5f0f2e8f4e8eae0f2e02e") +
                       " (80090317)"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.status);
    verify::VerifyResult result;
    result.chainStatus = c.status;
    EXPECT_EQ(ChainStatusText(result), c.expected);
  }
}

TEST(SystemMessageText, KnownCodesHaveTextsWithoutTrailingBlanks) {
  for (const uint32_t code : {platform::CRYPT_E_HASH_VALUE, platform::NTE_BAD_SIGNATURE,
                              platform::CRYPT_E_ASN1_BADTAG, platform::CRYPT_E_ASN1_EOD,
                              platform::CRYPT_E_NO_SIGNER, platform::CRYPT_E_UNEXPECTED_MSG_TYPE,
                              platform::NTE_BAD_ALGID, platform::SEC_E_CONTEXT_EXPIRED,
                              platform::KEY_USAGE_NOT_ALLOWED, platform::ERROR_NOT_SUPPORTED}) {
    SCOPED_TRACE(code);
    const std::string text = SystemMessageText(code);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), ' ');
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
  }
  EXPECT_FALSE(SystemMessageText(platform::ERROR_FILE_TOO_LARGE).empty());
  EXPECT_FALSE(SystemMessageText(platform::ERROR_INTERNET_OPERATION_CANCELLED).empty());
  EXPECT_EQ(SystemMessageText(0xFFFFFFFF), "");
  EXPECT_EQ(SystemMessageText(0x00010000), "");
}

}  // namespace
}  // namespace report
