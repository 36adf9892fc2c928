#include "report/report_texts.h"

#include "platform/base/cp1251.h"

namespace report::texts {

using namespace platform::literals;

// The namespace of XSL formatting objects is the one the W3C's XSL 1.0 recommendation gives them.
const char* const kPageTemplate =
    "<html xmlns:msxsl=\"urn:schemas-microsoft-com:xslt\" "
    "xmlns:fo=\"http://www.w3.org/1999/XSL/Format\">"
    "<center><b>Подписи</b></center><table><tr><td colspan=\"2\"><b>Параметры подписи</b></td>"
    "</tr><!--Status--><!--SignerInfo--></table></html>"_cp1251;
const char* const kStatusMarker = "<!--Status-->";
const char* const kSignerInfoMarker = "<!--SignerInfo-->";
const char* const kReportLineFormat = "HTML: %s\r\n";

const char* const kStatusTableStart = "<tr><td valign=\"top\">Статус</td><td><table>"_cp1251;
const char* const kStatusRowsFormat =
    "<tr><td align=\"left\" valign=\"Top\">Общий статус подписи</td><td align=\"justify\" "
    "valign=\"Top\">%s</td></tr><tr><td align=\"left\" valign=\"Top\">Статус проверки "
    "математической корректности</td><td align=\"justify\" valign=\"Top\">%s</td></tr><tr><td "
    "align=\"left\" valign=\"Top\">Статус проверки сертификата</td><td align=\"justify\" "
    "valign=\"Top\">%s</td></tr>"_cp1251;
const char* const kStatusTableEnd = "</table></td></tr>";
const char* const kSignatureValid = "Подпись верна"_cp1251;
const char* const kSomeChecksFailed = "Одна или несколько проверок окончились неудачей"_cp1251;
// The fourth letter of the second word is the Latin "c", as clients have always received it.
const char* const kCertificateValid = "Сертификат дейcтвителен"_cp1251;

const char* const kSignerCertificateStart =
    "<tr><td colspan=\"2\">Сертификат подписи</td></tr><tr><td colspan=\"2\"><table><tr><td "
    "width=\"20\"></td><td>"_cp1251;
const char* const kSignerCertificateEnd = "</td></tr></table></td></tr>";
const char* const kCertificateInfoStart =
    "<p>Информация о сертификате</p>Параметры сертификата:<table class=\"Cert_params\"><tr><td "
    "width=\"20\"></td><td>"_cp1251;
const char* const kVersionFormat = "<p>Версия: %d</p>"_cp1251;
const char* const kSerialNumberFormat = "<p>Серийный номер: %s</p>"_cp1251;
const char* const kIssuerFormat = "<p>Издатель: %s</p>"_cp1251;
const char* const kValidityFormat =
    "<p>Действителен с: %s UTC<br />Действителен по: %s UTC</p>"_cp1251;
const char* const kSubjectFormat = "<p>Владелец: %s</p>"_cp1251;
const char* const kPublicKeyFormat =
    "Открытый ключ: <table><tr><td width=\"20\"></td><td><p>Алгоритм открытого ключа: %s "
    "(%s)</p><p>Значение открытого ключа: %s (незначащих бит: %d)</p></td></tr></table>"_cp1251;
const char* const kExtensionsStart = "<p>Расширения сертификата: "_cp1251;
const char* const kExtensionStart = "<p>";
const char* const kExtensionNameFormat = " (%s)";
const char* const kExtensionCritical = ",критическое расширение"_cp1251;
const char* const kExtensionValueFormat =
    ":<br />Значение: <table><tr><td width=\"20\"></td><td>%s</td></tr></table>"_cp1251;
const char* const kExtensionEnd = "</p>";
const char* const kExtensionsEnd = "</p>";
const char* const kCertificateInfoEnd = "</td></tr></table>";
const char* const kSignatureInnerFormat =
    "<p>Алгоритм подписи: %s (%s)</p><p>Значение подписи: %s (незначащих бит: %d)</p>"_cp1251;
const char* const kSignatureBlockFormat =
    "<table class=\"Cert_params\"><tr><td width=\"20\"></td><td>%s</td></tr></table><br />";

}  // namespace report::texts
