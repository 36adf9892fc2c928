#include "platform/crypto/crypto_texts.h"

#include <iterator>

#include "platform/base/cp1251.h"

namespace platform::texts {

using namespace literals;

const char* const kLogGostUnavailable =
    "Модуль ГОСТ недоступен: проверяются только подписи RSA и ECDSA"_cp1251;

}  // namespace platform::texts

namespace platform::texts {

using namespace literals;

const RdnKey kRdnKeys[] = {
    {"2.5.4.3", "CN"},
    {"2.5.4.4", "SN"},
    {"2.5.4.5", "SERIALNUMBER"},
    {"2.5.4.6", "C"},
    {"2.5.4.7", "L"},
    {"2.5.4.8", "S"},
    {"2.5.4.9", "STREET"},
    {"2.5.4.10", "O"},
    {"2.5.4.11", "OU"},
    {"2.5.4.12", "T"},
    {"2.5.4.13", "Description"},
    {"2.5.4.17", "PostalCode"},
    {"2.5.4.18", "POBox"},
    {"2.5.4.20", "Phone"},
    {"2.5.4.42", "G"},
    {"2.5.4.43", "I"},
    {"2.5.4.46", "dnQualifier"},
    {"1.2.840.113549.1.9.1", "E"},
    {"1.2.840.113549.1.9.2", "UnstructuredName"},
    {"1.2.840.113549.1.9.8", "UnstructuredAddress"},
    {"0.9.2342.19200300.100.1.25", "DC"},
    {"1.2.643.3.131.1.1", "ИНН"_cp1251},
    {"1.2.643.100.1", "ОГРН"_cp1251},
    {"1.2.643.100.3", "СНИЛС"_cp1251},
    {"1.2.643.100.4", "ИНН ЮЛ"_cp1251},
    {"1.2.643.100.5", "ОГРНИП"_cp1251},
};
const size_t kRdnKeyCount = std::size(kRdnKeys);

}  // namespace platform::texts

namespace platform::texts {

using namespace literals;

const char* const kIssuerSignToolLabels[] = {
    "Средство электронной подписи: "_cp1251,
    "Средство удостоверяющего центра: "_cp1251,
    "Заключение на средство электронной подписи: "_cp1251,
    "Заключение на средство удостоверяющего центра: "_cp1251,
};
const size_t kIssuerSignToolLabelCount = std::size(kIssuerSignToolLabels);

const char* const kIdentificationKinds[] = {
    "Личное присутствие"_cp1251,
    "Удаленно с использованием квалифицированной электронной подписи"_cp1251,
    "Удаленно с использованием паспорта с биометрическими данными"_cp1251,
    "Удаленно с использованием единой системы идентификации и аутентификации"_cp1251,
};
const size_t kIdentificationKindCount = std::size(kIdentificationKinds);

}  // namespace platform::texts
