#include "platform/crypto/cert_name.h"

#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "platform/crypto/detail/handles.h"

namespace platform {
namespace {

struct Attribute {
  const char* type;  // short name or dotted OID
  std::string value;
  int stringType = MBSTRING_UTF8;
  int set = 0;  // OpenSSL's convention: 0 starts a relative name, -1 joins the previous one
};

// NameDer encodes the attributes, first to last, as a DER Name.
std::vector<uint8_t> NameDer(const std::vector<Attribute>& attributes) {
  detail::X509NamePtr name(X509_NAME_new());
  for (const Attribute& a : attributes) {
    EXPECT_EQ(X509_NAME_add_entry_by_txt(name.get(), a.type, a.stringType,
                                         reinterpret_cast<const unsigned char*>(a.value.data()),
                                         static_cast<int>(a.value.size()), -1, a.set),
              1)
        << a.type;
  }
  unsigned char* der = nullptr;
  const int length = i2d_X509_NAME(name.get(), &der);
  std::vector<uint8_t> bytes(der, der + length);
  OPENSSL_free(der);
  return bytes;
}

TEST(CertNameToStrA, FormsAndOrder) {
  const std::vector<uint8_t> name =
      NameDer({{"C", "RU"}, {"O", "Org"}, {"CN", "Ivanov"}, {"emailAddress", "a@b.ru"}});
  struct Case {
    uint32_t type;
    std::string text;
  };
  const Case kCases[] = {
      {CERT_X500_NAME_STR, "C=RU, O=Org, CN=Ivanov, E=a@b.ru"},
      {CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG, "E=a@b.ru, CN=Ivanov, O=Org, C=RU"},
      {CERT_SIMPLE_NAME_STR | CERT_NAME_STR_REVERSE_FLAG, "a@b.ru, Ivanov, Org, RU"},
      {CERT_OID_NAME_STR, "2.5.4.6=RU, 2.5.4.10=Org, 2.5.4.3=Ivanov, 1.2.840.113549.1.9.1=a@b.ru"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.type);
    EXPECT_EQ(CertNameToStrA(name, c.type), c.text);
  }
}

TEST(CertNameToStrA, RussianAttributesAndUnknownOids) {
  const std::vector<uint8_t> name = NameDer({{"1.2.643.3.131.1.1", "007700000000", MBSTRING_ASC},
                                             {"1.2.643.100.1", "1027700000000", MBSTRING_ASC},
                                             {"1.2.643.100.3", "12345678901", MBSTRING_ASC},
                                             {"1.2.643.100.5", "304500000000000", MBSTRING_ASC},
                                             {"1.2.3.4", "x"}});
  // ИНН, ОГРН, СНИЛС, ОГРНИП in Windows-1251, worked out by hand.
  EXPECT_EQ(CertNameToStrA(name, CERT_X500_NAME_STR),
            "\xc8\xcd\xcd=007700000000, \xce\xc3\xd0\xcd=1027700000000, "
            "\xd1\xcd\xc8\xcb\xd1=12345678901, \xce\xc3\xd0\xcd\xc8\xcf=304500000000000, "
            "OID.1.2.3.4=x");
}

TEST(CertNameToStrA, QuotesValuesThatNeedIt) {
  struct Case {
    std::string value, written;
  };
  const Case kCases[] = {
      {"plain", "CN=plain"},
      {"a, b", "CN=\"a, b\""},
      {"say \"hi\"", "CN=\"say \"\"hi\"\"\""},
      {" lead", "CN=\" lead\""},
      {"trail ", "CN=\"trail \""},
      {"x+y", "CN=\"x+y\""},
      {"a=b", "CN=\"a=b\""},
      {"<tag>", "CN=\"<tag>\""},
      {"#1", "CN=\"#1\""},
      {"a;b", "CN=\"a;b\""},
      {"line\r\nbreak", "CN=\"line\r\nbreak\""},
      {"\tlead", "CN=\"\tlead\""},
      {"trail\t", "CN=\"trail\t\""},
      {"in\tside", "CN=in\tside"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(CertNameToStrA(NameDer({{"CN", c.value}}), CERT_X500_NAME_STR), c.written);
  }
  // An empty value (allowed for a type without a length rule) is quoted too.
  EXPECT_EQ(CertNameToStrA(NameDer({{"1.2.3.4", ""}}), CERT_X500_NAME_STR), "OID.1.2.3.4=\"\"");
}

TEST(CertNameToStrA, ConvertsStringTypesToWindows1251) {
  struct Case {
    const char* why;
    std::string value;
    int stringType;
    std::string text;
  };
  // Expected bytes are Windows-1251, worked out by hand ("Иван" is C8 E2 E0 ED).
  const Case kCases[] = {
      {"UTF8String", "\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd", MBSTRING_UTF8, "\xc8\xe2\xe0\xed"},
      {"BMPString", std::string("\x04\x18\x04\x32\x04\x30\x04\x3d", 8), V_ASN1_BMPSTRING,
       "\xc8\xe2\xe0\xed"},
      {"outside the code page", "\xe4\xb8\xad", MBSTRING_UTF8, "?"},
      {"TeletexString holding UTF-8", "\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd", V_ASN1_T61STRING,
       "\xc8\xe2\xe0\xed"},
      // Not UTF-8, so Latin-1: the copyright sign is in the code page, e-acute is not.
      {"TeletexString in Latin-1", "\xa9 caf\xe9", V_ASN1_T61STRING, "\xa9 caf?"},
      {"TeletexString, overlong UTF-8", "\xc0\xaf", V_ASN1_T61STRING, "??"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(CertNameToStrA(NameDer({{"CN", c.value, c.stringType}}), CERT_SIMPLE_NAME_STR),
              c.text);
  }
}

TEST(CertNameToStrA, MultiValuedRelativeNamesJoinWithPlus) {
  const std::vector<uint8_t> name =
      NameDer({{"C", "RU"}, {"CN", "A"}, {"SN", "B", MBSTRING_UTF8, -1}});
  EXPECT_EQ(CertNameToStrA(name, CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG),
            "CN=A + SN=B, C=RU");
}

TEST(CertNameToStrA, EmptyOrBrokenNames) {
  EXPECT_EQ(CertNameToStrA(NameDer({}), CERT_X500_NAME_STR), "");
  const std::vector<uint8_t> garbage = {0x04, 0x01, 0x00};
  EXPECT_EQ(CertNameToStrA(garbage, CERT_X500_NAME_STR), "");
}

}  // namespace
}  // namespace platform
