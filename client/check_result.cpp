#include "client/check_result.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string_view>

#include "platform/base/cp1251.h"
#include "platform/base/log.h"
#include "platform/base/trust_reasons.h"

namespace client {
namespace {

using Json = nlohmann::ordered_json;

std::string Hex8(uint32_t code) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", code);
  return text;
}

Json CheckObject(const CheckVerdict& verdict) {
  return Json{{"ok", verdict.ok},
              {"status", Hex8(verdict.status)},
              {"text", platform::Cp1251ToUtf8(verdict.text)}};
}

// NameOrNull is the answer's field `name` in UTF-8, or null when it is missing or empty.
Json NameOrNull(const CheckAnswer& answer, const char* name) {
  const std::string* value = answer.Field(name);
  return value == nullptr || value->empty() ? Json(nullptr) : Json(platform::Cp1251ToUtf8(*value));
}

Json SignerObject(const CheckAnswer& answer) {
  Json signer{{"subjectName", NameOrNull(answer, "SubjectName")},
              {"subject", NameOrNull(answer, "Subject")},
              {"subjectX500", NameOrNull(answer, "SubjectX500")},
              {"issuer", NameOrNull(answer, "Issuer")},
              {"issuerX500", NameOrNull(answer, "IssuerX500")},
              {"serial", NameOrNull(answer, "SubjectSN")},
              // The line protocol's answer names neither the validity nor the key's algorithm.
              {"notBefore", nullptr},
              {"notAfter", nullptr},
              {"keyAlgorithm", nullptr}};
  // Without a signer certificate every name is empty.
  for (const auto& [key, value] : signer.items()) {
    if (!value.is_null()) return signer;
  }
  return nullptr;
}

// Visible writes `name` with its control bytes, TAB included, escaped, so that it stays one field.
std::string Visible(std::string_view name) {
  std::string visible;
  platform::AppendVisible(visible, name);
  std::string out;
  for (const char c : visible) out += c == '\t' ? std::string("\\t") : std::string(1, c);
  return out;
}

}  // namespace

std::string JsonLine(const CheckResult& result, const PairNames* pair) {
  Json object{{"schema", kSchema}, {"valid", result.ExitStatus() == kExitValid}};
  // An answer stays with a failure that came after it (a report that could not be written).
  const CheckAnswer* answer = result.answer ? &*result.answer : nullptr;
  if (answer == nullptr) {
    for (const char* key : {"signature", "certificate", "chain", "signer"}) object[key] = nullptr;
  } else {
    object["signature"] = CheckObject(answer->signature);
    object["certificate"] = CheckObject(answer->certificate);
    Json chain = CheckObject(answer->chain);
    chain["reasons"] = Json::array();
    for (const std::string_view reason : platform::ChainTrustReasons(answer->chain.status)) {
      chain["reasons"].push_back(reason);
    }
    object["chain"] = std::move(chain);
    object["signer"] = SignerObject(*answer);
  }
  object["report"] = answer != nullptr && result.reportAsked && answer->page
                         ? Json(ReportPage(*answer->page))
                         : Json(nullptr);
  object["error"] = result.failure ? Json{{"kind", KindName(result.failure->kind)},
                                          {"message", result.failure->message}}
                                   : Json(nullptr);
  if (pair != nullptr) {
    object["input"] = {{"document", pair->document},
                       {"signature", pair->signature ? Json(*pair->signature) : Json(nullptr)}};
  }
  return object.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string BatchTextLine(const CheckResult& result, const PairNames& pair) {
  std::string verdict = "ERROR", statuses = "-", message;
  if (result.failure) {
    message = result.failure->message;
  } else if (result.answer) {
    const CheckAnswer& answer = *result.answer;
    statuses = Hex8(answer.signature.status) + "," + Hex8(answer.certificate.status) + "," +
               Hex8(answer.chain.status);
    verdict = answer.Valid() ? "OK" : "FAIL";
    const std::pair<const char*, const CheckVerdict*> checks[] = {
        {"signature", &answer.signature},
        {"certificate", &answer.certificate},
        {"chain", &answer.chain}};
    for (const auto& [name, check] : checks) {
      if (!check->ok) {
        message = std::string(name) + ": " + platform::Cp1251ToUtf8(check->text) + " (" +
                  Hex8(check->status) + ")";
        break;
      }
    }
    if (answer.Valid()) {
      const std::string* signer = answer.Field("SubjectName");
      message = signer != nullptr ? platform::Cp1251ToUtf8(*signer) : "";
    }
  }
  return verdict + "\t" + Visible(pair.document) + "\t" + Visible(pair.signature.value_or("")) +
         "\t" + statuses + "\t" + Visible(message) + "\n";
}

}  // namespace client
