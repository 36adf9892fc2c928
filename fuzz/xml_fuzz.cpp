// Feeds arbitrary bytes as the hashed XML fragment and/or the signed text through CCrypto with a
// signer certificate, in XML mode, the way CHECK does with CERT and HASHEDXML, and checks the
// verdict against libxml2 and OpenSSL called directly:
//  - a fragment the library cannot parse fails with the text of its stage ("Некорректный xml
//    документ.", ...) and status 0; so does a signed text that is not well-formed;
//  - a well-formed fragment whose canonical digest is not in the signed text fails with "Хэш
//    данных не совпадает." and status 0;
//  - otherwise the signature value, made over the exclusive canonical form (without comments) of
//    the signed text, verifies, so the engine canonicalized both texts as libxml2 does, hashed
//    the fragment with GOST R 34.11-94 and wrote its digest in Base64 as an XML signature does;
//  - the canonical form of a fragment, hashed again, passes with the same signed text;
//  - a fragment sent in Windows-1251 reaches the engine as well-formed UTF-8.
// The signer certificate is made at start-up with a GOST R 34.10-2001 key, which signs the texts.
//
// Input layout: byte 0 & 3 says what the rest is:
//   0  the fragment; the signed text is a SignedInfo that carries its digest;
//   1  the signed text alone, without a fragment;
//   2  the signed text, followed by a comment with the digest of a fixed fragment that is sent;
//   3  the fragment up to the first NUL byte, then the signed text.
// Byte 0 & 4 (layouts 0 and 3): the fragment is Windows-1251 and is converted as the CHECK
// pipeline converts it.
// Byte 0 & 8 (layout 0): the SignedInfo carries the digest of something else.

#include <fcntl.h>
#include <iconv.h>
#include <libxml/c14n.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlstring.h>
#include <openssl/evp.h>
#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

#include "fuzz/require.h"
#include "platform/base/debug_output.h"
#include "server/check_request.h"
#include "tests/pki/cert.h"
#include "tests/pki/gost_engine.h"
#include "tests/pki/handles.h"
#include "tests/pki/key.h"
#include "tests/pki/raw_signature.h"
#include "verify/crypto.h"
#include "verify/result.h"
#include "verify/tmp_cert_arhive.h"

namespace fuzz {
namespace {

using tests::pki::FreeWith;

void FreeXmlBytes(xmlChar* bytes) { xmlFree(bytes); }
using XmlDocPtr = std::unique_ptr<xmlDoc, FreeWith<xmlFreeDoc>>;
using XmlBytesPtr = std::unique_ptr<xmlChar, FreeWith<FreeXmlBytes>>;
using IconvPtr = std::unique_ptr<std::remove_pointer_t<iconv_t>, FreeWith<iconv_close>>;

// Stage is where libxml2 stops with a text, or kCanonical when it gives a canonical form.
enum class Stage { kParse, kRoot, kC14n, kCanonical };

struct Canonical {
  Stage stage = Stage::kParse;
  std::string text;
};

// CanonicalOf parses `bytes` as UTF-8 whatever they declare, entities replaced and DTD default
// attributes added, and writes the exclusive canonical form without comments. The external
// entity loader the engine installs for the whole process refuses everything from outside.
Canonical CanonicalOf(std::string_view bytes) {
  constexpr int kOptions =
      XML_PARSE_NOENT | XML_PARSE_DTDATTR | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  const XmlDocPtr document(
      xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, "UTF-8", kOptions));
  if (!document) return {Stage::kParse, {}};
  if (xmlDocGetRootElement(document.get()) == nullptr) return {Stage::kRoot, {}};
  xmlChar* text = nullptr;
  const int length =
      xmlC14NDocDumpMemory(document.get(), nullptr, XML_C14N_EXCLUSIVE_1_0, nullptr, 0, &text);
  const XmlBytesPtr owner(text);
  if (length <= 0 || text == nullptr) return {Stage::kC14n, {}};
  return {Stage::kCanonical,
          std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(length))};
}

// DigestBase64 is the Base64 of the GOST R 34.11-94 digest of `bytes` in the engine's order.
std::string DigestBase64(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const EVP_MD* gost94 = tests::pki::DigestOf(tests::pki::KeyKind::kGost2001);
  Require(EVP_Digest(bytes.data(), bytes.size(), digest, &length, gost94, nullptr) == 1,
          "OpenSSL digests with md_gost94");
  std::string encoded(4 * ((length + 2) / 3) + 1, '\0');
  encoded.resize(static_cast<size_t>(
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()), digest, length)));
  return encoded;
}

// Cp1251 converts a UTF-8 literal with the C library's iconv, independently of platform/.
std::string Cp1251(std::string_view utf8) {
  const iconv_t opened = iconv_open("CP1251", "UTF-8");
  Require(opened != reinterpret_cast<iconv_t>(-1), "iconv converts UTF-8 to CP1251");
  const IconvPtr converter(opened);
  std::string input(utf8);
  std::string output(input.size(), '\0');
  char* in = input.data();
  char* out = output.data();
  size_t inLeft = input.size();
  size_t outLeft = output.size();
  Require(iconv(converter.get(), &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1),
          "the texts are Windows-1251 characters");
  output.resize(output.size() - outLeft);
  return output;
}

std::string SignedInfoWith(const std::string& digest) {
  return "<SignedInfo xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><Reference URI=\"#doc\">"
         "<DigestValue>" +
         digest + "</DigestValue></Reference></SignedInfo>";
}

// StateFolder is a fresh temporary folder, removed with everything in it at exit.
class StateFolder {
 public:
  StateFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quilmarend-xml-fuzz-XXXXXX").string();
    Require(mkdtemp(pattern.data()) != nullptr, "a temporary state folder can be made");
    path = pattern;
  }
  ~StateFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  StateFolder(const StateFolder&) = delete;
  StateFolder& operator=(const StateFolder&) = delete;

  std::string path;
};

// Environment is set up once per process: the state root `folder` (chosen before anything reads
// it), the log sent nowhere, the certificate archive, a GOST signer and the failure texts.
class Environment {
 public:
  explicit Environment(const std::string& folder) {
    setenv("QUILMAREND_HOME", folder.c_str(), 1);
    platform::UseDebugChannelDescriptor(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    Require(tests::pki::LoadGostEngine(), "the GOST engine loads");
    archive = std::make_unique<verify::TmpCertArhive>();
    key = tests::pki::MakeKey(tests::pki::KeyKind::kGost2001);
    tests::pki::CertSpec certSpec;
    certSpec.subject = {{"CN", "Fuzz Signer"}, {"O", "Org"}, {"C", "RU"}};
    const tests::pki::Cert cert = tests::pki::Issue(certSpec, key, nullptr, key);
    Require(key && cert, "a GOST signer certificate can be made");
    const std::vector<uint8_t> der = cert.Der();
    certificate.assign(der.begin(), der.end());
    badXml = Cp1251("Некорректный xml документ.");
    noRoot = Cp1251("Ошибка CanonicalizeXml - xmlDocGetRootElement.");
    c14nFailed = Cp1251("Ошибка CanonicalizeXml - xmlC14NDocDumpMemory.");
    hashMismatch = Cp1251("Хэш данных не совпадает.");
    fixedFragment = "<fixed xmlns=\"urn:fixed\" b=\"2\" a=\"1\"/>";
  }

  // TextOf is the engine's failure text for a libxml2 stage.
  const std::string& TextOf(Stage stage) const {
    return stage == Stage::kParse ? badXml : stage == Stage::kRoot ? noRoot : c14nFailed;
  }

  std::unique_ptr<verify::TmpCertArhive> archive;
  tests::pki::Key key;
  std::string certificate;  // DER
  std::string badXml, noRoot, c14nFailed, hashMismatch;
  std::string fixedFragment;
};

// Outcome is the engine's verdict on one request.
struct Outcome {
  bool ok = false;
  uint32_t status = 0;
  std::string detail;
};

Outcome RunEngine(Environment& environment, const std::optional<std::string>& fragment,
                  const std::string& text, const std::vector<uint8_t>& value) {
  verify::CheckRequest request;
  request.certificate.assign(environment.certificate.begin(), environment.certificate.end());
  request.document.assign(text.begin(), text.end());
  request.signature = value;
  request.xmlMode = true;
  if (fragment) request.hashedXml = std::vector<uint8_t>(fragment->begin(), fragment->end());
  const verify::VerifyResult result =
      verify::CCrypto(std::move(request), *environment.archive).Verify();
  Require(result.signatureDetail.has_value(), "a request with a certificate has a detail text");
  return {result.signatureOk, result.signatureStatus, *result.signatureDetail};
}

// Setup returns the process's environment. It is never destroyed: the archive logs from its
// destructor, and the log's per-thread state is gone by the time exit handlers run.
Environment& Setup() {
  static const StateFolder folder;
  static Environment* const environment = new Environment(folder.path);
  return *environment;
}

}  // namespace
}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  using namespace fuzz;
  if (size == 0) return 0;
  Environment& environment = Setup();
  const uint8_t layout = bytes[0] & 3;
  const bool fromCp1251 = (bytes[0] & 4) != 0;
  const bool withheld = (bytes[0] & 8) != 0;
  const std::string_view rest(reinterpret_cast<const char*>(bytes + 1), size - 1);

  std::optional<std::string> fragment;
  std::string text;
  switch (layout) {
    case 0:
      fragment = std::string(rest);
      break;
    case 1:
      text = rest;
      break;
    case 2:
      fragment = environment.fixedFragment;
      text = std::string(rest) + "<!--" +
             DigestBase64(CanonicalOf(environment.fixedFragment).text) + "-->";
      break;
    default: {
      const size_t cut = std::min(rest.find('\0'), rest.size());
      fragment = std::string(rest.substr(0, cut));
      text = cut < rest.size() ? rest.substr(cut + 1) : "";
      break;
    }
  }
  if (fragment && fromCp1251 && layout != 2) {
    *fragment = server::HashedXmlToUtf8(*fragment);
    Require(xmlCheckUTF8(reinterpret_cast<const xmlChar*>(fragment->c_str())) == 1,
            "a Windows-1251 fragment reaches the engine as UTF-8");
  }

  // What libxml2 and OpenSSL say about the fragment and the signed text.
  std::optional<Canonical> canonicalFragment;
  if (fragment) canonicalFragment = CanonicalOf(*fragment);
  if (layout == 0) {
    const bool known = canonicalFragment->stage == Stage::kCanonical;
    text = SignedInfoWith(known && !withheld ? DigestBase64(canonicalFragment->text)
                                             : DigestBase64(*fragment + "other"));
  }
  const Canonical canonicalText = CanonicalOf(text);
  std::vector<uint8_t> value;
  if (canonicalText.stage == Stage::kCanonical) {
    const std::string& signedBytes = canonicalText.text;
    value = tests::pki::SignRaw(
                environment.key,
                std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(signedBytes.data()),
                                         signedBytes.size()))
                .signature;
    Require(!value.empty(), "the GOST key signs");
  } else {
    value.assign(64, 0x5a);
  }

  const Outcome outcome = RunEngine(environment, fragment, text, value);
  Require(outcome.status == 0, "the XML path fails with its texts alone, status 0");
  if (canonicalFragment && canonicalFragment->stage != Stage::kCanonical) {
    Require(!outcome.ok, "a fragment libxml2 refuses is refused");
    Require(outcome.detail == environment.TextOf(canonicalFragment->stage),
            "a refused fragment gives the text of the stage that refused it");
    return 0;
  }
  if (canonicalFragment && text.find(DigestBase64(canonicalFragment->text)) == std::string::npos) {
    Require(!outcome.ok && outcome.detail == environment.hashMismatch,
            "a fragment whose digest is not in the signed text gives the mismatch text");
    return 0;
  }
  if (canonicalText.stage != Stage::kCanonical) {
    Require(!outcome.ok, "a signed text libxml2 refuses is refused");
    Require(outcome.detail == environment.TextOf(canonicalText.stage),
            "a refused signed text gives the text of the stage that refused it");
    return 0;
  }
  Require(outcome.ok, "the value over the canonical signed text verifies");
  if (canonicalFragment) {
    // A canonical document canonicalizes to itself, so its digest is the one embedded.
    const Outcome again = RunEngine(environment, canonicalFragment->text, text, value);
    Require(again.ok && again.status == 0, "the canonical form of a fragment passes as well");
  }
  return 0;
}
