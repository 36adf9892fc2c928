#include "report/status_texts.h"

#include <algorithm>

#include "platform/base/cp1251.h"
#include "platform/base/log.h"
#include "platform/base/system_messages.h"
#include "platform/crypto/chain.h"

namespace report {
namespace {

using namespace platform::literals;

struct ChainPhrase {
  uint32_t bit;
  const char* phrase;
};

// The trust error bits with a phrase, in the order they are tested and joined.
constexpr ChainPhrase kChainPhrases[] = {
    {0x00000001, "Сертификат недействителен в данный момент. "_cp1251},
    {0x00000002, "В цепочке сертификатов время неправильное. "_cp1251},
    {0x00000004, "Один из сертифкатов в цепочке был аннулирован. "_cp1251},
    {0x00000008, "Неверная подпись сертификата. "_cp1251},
    {0x00000010, "Сертификат сервера не одобрен для таких соединений. "_cp1251},
    {0x00000020, "Корневой сертификат цепочки не является доверенным. "_cp1251},
    {0x00000040, "Статус аннулирования сертификатов не выяснен. "_cp1251},
    {0x00000080, "Циклическая зависимость сертификатов. "_cp1251},
    {0x00010000, "Один из сертификатов в цепочке не является доверенным. "_cp1251},
    {0x00020000, "Цепочка проверки сертификатов недействительная в данный момент. "_cp1251},
    {0x00040000, "Цепочка проверки сертификатов не имеет правильной подписи. "_cp1251},
    {0x00080000, "Цепочка проверки сертификатов не одобрена для такого использования. "_cp1251},
    {0x01000000, "Не удалось загрузить действующий список отозванных сертификатов. "_cp1251},
};

struct TrustBitName {
  uint32_t bit;
  std::string_view name;
};

#define QUILMAREND_TRUST_BIT(name) \
  { platform::name, #name }
constexpr TrustBitName kTrustBitNames[] = {
    QUILMAREND_TRUST_BIT(CERT_TRUST_IS_NOT_TIME_VALID),
    QUILMAREND_TRUST_BIT(CERT_TRUST_IS_NOT_TIME_NESTED),
    QUILMAREND_TRUST_BIT(CERT_TRUST_IS_REVOKED),
    QUILMAREND_TRUST_BIT(CERT_TRUST_IS_NOT_SIGNATURE_VALID),
    QUILMAREND_TRUST_BIT(CERT_TRUST_IS_NOT_VALID_FOR_USAGE),
    QUILMAREND_TRUST_BIT(CERT_TRUST_IS_UNTRUSTED_ROOT),
    QUILMAREND_TRUST_BIT(CERT_TRUST_REVOCATION_STATUS_UNKNOWN),
    QUILMAREND_TRUST_BIT(CERT_TRUST_IS_CYCLIC),
    QUILMAREND_TRUST_BIT(CERT_TRUST_INVALID_EXTENSION),
    QUILMAREND_TRUST_BIT(CERT_TRUST_INVALID_POLICY_CONSTRAINTS),
    QUILMAREND_TRUST_BIT(CERT_TRUST_INVALID_BASIC_CONSTRAINTS),
    QUILMAREND_TRUST_BIT(CERT_TRUST_INVALID_NAME_CONSTRAINTS),
    QUILMAREND_TRUST_BIT(CERT_TRUST_IS_PARTIAL_CHAIN),
    {0x00020000, "CERT_TRUST_CTL_IS_NOT_TIME_VALID"},
    {0x00040000, "CERT_TRUST_CTL_IS_NOT_SIGNATURE_VALID"},
    {0x00080000, "CERT_TRUST_CTL_IS_NOT_VALID_FOR_USAGE"},
    QUILMAREND_TRUST_BIT(CERT_TRUST_IS_OFFLINE_REVOCATION),
    QUILMAREND_TRUST_BIT(CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT),
};
#undef QUILMAREND_TRUST_BIT

std::string CodeText(uint32_t code) {
  if (code == 0 || code == 0xFFFFFFFF) return platform::FormatText("%08x", code);
  return platform::FormatText("%s (%08x)", SystemMessageText(code).c_str(), code);
}

}  // namespace

std::string SystemMessageText(uint32_t code) {
  std::string text = platform::SystemMessage(code);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                           text.back() == '\n')) {
    text.pop_back();
  }
  return text;
}

std::string SignatureStatusText(const verify::VerifyResult& result) {
  std::string text;
  if (result.signatureDetail) text = *result.signatureDetail + " ";
  return text + CodeText(result.signatureStatus);
}

std::string CertificateStatusText(const verify::VerifyResult& result) {
  return CodeText(result.certificateStatus);
}

std::string ChainStatusText(const verify::VerifyResult& result) {
  const uint32_t status = result.chainStatus;
  if (status == 0) return {};
  std::string phrases;
  for (const ChainPhrase& row : kChainPhrases) {
    if (status & row.bit) phrases += row.phrase;
  }
  return platform::FormatText("%s%s (%08x)", phrases.c_str(), SystemMessageText(status).c_str(),
                              status);
}

std::vector<std::string> ChainTrustBitNames(uint32_t chainStatus) {
  std::vector<std::string> names;
  if (chainStatus & 0x80000000) return names;
  for (uint32_t bit = 1; bit != 0 && bit <= chainStatus; bit <<= 1) {
    if (!(chainStatus & bit)) continue;
    const auto named = std::find_if(std::begin(kTrustBitNames), std::end(kTrustBitNames),
                                    [bit](const TrustBitName& row) { return row.bit == bit; });
    names.push_back(named != std::end(kTrustBitNames) ? std::string(named->name)
                                                      : platform::FormatText("0x%08x", bit));
  }
  return names;
}

}  // namespace report
