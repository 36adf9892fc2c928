// The XML-path load driver: bare GOST R 34.10-2001 signature values with the signer's certificate
// and a hashed XML fragment, verified per second by the server, against a baseline measured in
// the same run, since absolute rates belong to the machine; and GETHASH of a large file against
// the openssl command.
//  - ours: the server binary as a child process with 100 workers, its log on standard error
//    going into a pipe that another process drains, as under systemd, measured with the log at
//    `info` (what the service's settings set) and at `debug` (every line), each rate with the CPU
//    one CHECK cost in the server, the log's reader and the clients. 100 client connections; each
//    sends CRLOFF, a SignedInfo text (STRS), its signature value (SIGN), the signer certificate
//    (CERT) and a 2.5 KiB fragment in Windows-1251 (HASHEDXML) once, then CHECK over and over;
//    every answer must say "CheckSignature: OK" and "CheckChain: OK". The root is in the
//    LocalMachine ROOT store, the CA in LocalMachine CA and the signer in CurrentUser MY of a
//    temporary state folder; a warm-up fills the chain archive before the clock starts.
//  - baseline: the same three steps with libxml2 and OpenSSL called directly, on 2 threads:
//    exclusive canonicalization without comments of the fragment (in UTF-8) and of the SignedInfo,
//    the GOST R 34.11-94 digest of the canonical fragment in Base64 searched for in the SignedInfo,
//    and EVP_DigestVerify of the value over the canonical SignedInfo with md_gost94 and the key
//    of the certificate, decoded each time as the server decodes it.
//  - gethash: "GETHASH file:///..." of a 256 MiB file over one connection to an in-process server,
//    against `openssl dgst -engine gost -md_gost94` run on the same file, a few times each (the
//    median counts); both must give the same digest (the server writes each byte low nibble
//    first). The file is made in the temporary folder and removed afterwards.
// The lines to track (each says whether its target is met):
//   XmlLoad ours/baseline at info 0.80 (target at least 0.80: met)
//   XmlLoad GETHASH ours/openssl 1.01 (target at most 1.20: met)
// A wrong answer, a baseline that accepts a changed fragment or signature, or digests that differ
// make the exit status 1. With --log=file the servers' logs go to the temporary state folder
// instead of pipes, unless QUILMAREND_LOG names another file (for the GETHASH part's in-process
// server). --server=PATH measures another build of the server binary.
//
// Example:
//   build/bench/xml_load                                # 10 s per rate, 3 runs of GETHASH
//   build/bench/xml_load --seconds=3 --only=ours        # one part: ours, baseline or gethash
//   build/bench/xml_load --only=gethash --file-mib=64 --runs=5

#include <iconv.h>
#include <libxml/c14n.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

#include "bench/load_support.h"
#include "platform/base/debug_output.h"
#include "platform/crypto/cert_store.h"
#include "server/tcp_server.h"
#include "tests/check_support.h"
#include "tests/pki/gost_engine.h"
#include "tests/pki/handles.h"
#include "tests/pki/key.h"
#include "tests/pki/raw_signature.h"
#include "tests/test_client.h"

namespace bench {
namespace {

const Names kNames{"xml_load", "XmlLoad"};
constexpr int kConnections = 100;
constexpr int kBaselineThreads = 2;
constexpr int kFragmentItems = 24;
// The baseline needs no archive or connection set-up; a short warm-up loads code and caches.
constexpr Seconds kBaselineWarmup{0.5};
// GETHASH of a large file takes seconds; the reply is awaited this long.
constexpr int kGetHashLimitMs = 10 * 60 * 1000;
constexpr size_t kMib = 1024 * 1024;

struct Options {
  Seconds seconds{10};
  Seconds warmup{2};
  std::vector<std::string> only;  // the parts --only named (it may be given again); none: all
  int runs = 3;
  size_t fileMib = 256;
  bool logToFile = false;
  std::string server = QUILMAREND_BINARY;

  bool Runs(std::string_view part) const {
    return only.empty() || std::find(only.begin(), only.end(), part) != only.end();
  }
};

// ParseOptions reads --seconds=N, --warmup=N, --only=PART, --runs=N, --file-mib=N and
// --log=pipe|file; nullopt on anything else.
std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (ReadSeconds(argument, "--seconds=", options.seconds) ||
        ReadSeconds(argument, "--warmup=", options.warmup) ||
        ReadCount(argument, "--runs=", 99, options.runs) ||
        ReadCount(argument, "--file-mib=", size_t{4096}, options.fileMib)) {
      continue;
    }
    if (argument == "--log=pipe" || argument == "--log=file") {
      options.logToFile = argument == "--log=file";
      continue;
    }
    if (argument.starts_with("--server=") && argument.size() > 9) {
      options.server = argument.substr(9);
      continue;
    }
    constexpr std::string_view kOnly = "--only=";
    const std::string_view part = argument.starts_with(kOnly) ? argument.substr(kOnly.size()) : "";
    if (part == "ours" || part == "baseline" || part == "gethash") {
      options.only.emplace_back(part);
      continue;
    }
    return std::nullopt;
  }
  return options;
}

// ---- libxml2 and OpenSSL, called directly -----------------------------------------------------

void FreeXmlBytes(xmlChar* bytes) { xmlFree(bytes); }
using XmlDocPtr = std::unique_ptr<xmlDoc, tests::pki::FreeWith<xmlFreeDoc>>;
using XmlBytesPtr = std::unique_ptr<xmlChar, tests::pki::FreeWith<FreeXmlBytes>>;

// Canonical returns the exclusive canonical form without comments of the UTF-8 document `text`,
// parsed with entities replaced and DTD default attributes added, nothing loaded from outside;
// nullopt when it is not well-formed.
std::optional<std::string> Canonical(std::string_view text) {
  constexpr int kOptions = XML_PARSE_NOENT | XML_PARSE_DTDATTR | XML_PARSE_NONET |
                           XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  const XmlDocPtr document(
      xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, "UTF-8", kOptions));
  if (!document) return std::nullopt;
  xmlChar* bytes = nullptr;
  const int length =
      xmlC14NDocDumpMemory(document.get(), nullptr, XML_C14N_EXCLUSIVE_1_0, nullptr, 0, &bytes);
  const XmlBytesPtr owner(bytes);
  if (length < 0 || bytes == nullptr) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
}

const EVP_MD* Gost94() { return tests::pki::DigestOf(tests::pki::KeyKind::kGost2001); }

// DigestBase64 is the Base64 of the GOST R 34.11-94 digest of `bytes`, in the engine's byte
// order, as an XML signature carries it; empty on failure.
std::string DigestBase64(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, Gost94(), nullptr) != 1) return {};
  std::string encoded(4 * ((length + 2) / 3) + 1, '\0');
  const int written =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()), digest, length);
  encoded.resize(static_cast<size_t>(written));
  return encoded;
}

// ---- The fixture ----------------------------------------------------------------------------

// Fixture is what ours and the baseline check: a fragment (in Windows-1251 as a client sends it,
// in UTF-8 as the baseline reads it), a SignedInfo that carries its digest, the signature value
// over the canonical SignedInfo (big-endian, as an XML signature has it) and the signer's
// certificate. The changed fragment and the changed value must be refused, so that a check that
// verifies nothing cannot pass for a fast one.
struct Fixture {
  std::string fragment1251;
  std::string fragmentUtf8;
  std::string changedFragment1251;
  std::string changedFragmentUtf8;
  std::string signedInfo;
  std::vector<uint8_t> signatureValue;
  std::vector<uint8_t> changedSignatureValue;
  std::vector<uint8_t> certificate;
};

using IconvPtr = std::unique_ptr<std::remove_pointer_t<iconv_t>, tests::pki::FreeWith<iconv_close>>;

// ToCp1251 converts UTF-8 `text` to Windows-1251 with the C library's iconv; nullopt when a
// character has no byte there.
std::optional<std::string> ToCp1251(const std::string& text) {
  const iconv_t opened = iconv_open("CP1251", "UTF-8");
  if (opened == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  const IconvPtr converter(opened);
  std::string input = text;
  std::string output(text.size(), '\0');  // never longer than the UTF-8
  char* in = input.data();
  char* out = output.data();
  size_t inLeft = input.size();
  size_t outLeft = output.size();
  if (iconv(converter.get(), &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1)) {
    return std::nullopt;
  }
  output.resize(output.size() - outLeft);
  return output;
}

// FragmentUtf8 is a document of `kFragmentItems` records with Russian text: two namespaces, one
// of them unused (exclusive canonicalization drops it), attributes out of order, a comment and
// empty-element tags, so that canonicalization has work to do. `changed` alters one letter.
std::string FragmentUtf8(bool changed) {
  static constexpr const char* kTexts[] = {
      "Заявление о выдаче справки", "Сведения о платеже: №", "Получатель — ООО «Ромашка»",
      "Адрес: г. Москва, ул. Тверская, д.", "Сумма к оплате, руб."};
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
      "<ns1:Document xmlns:ns1=\"urn:quilmarend:bench:document\" "
      "xmlns:unused=\"urn:quilmarend:bench:unused\" Id=\"body\"><!-- records -->";
  for (int i = 0; i < kFragmentItems; ++i) {
    const std::string number = std::to_string(i + 1);
    text += "<ns1:Record version=\"2\" kind=\"k" + number + "\" id=\"r" + number + "\">" +
            kTexts[i % std::size(kTexts)] + " " + number + "<ns1:Flag/></ns1:Record>";
  }
  text += changed ? "<ns1:End>Канец</ns1:End>" : "<ns1:End>Конец</ns1:End>";
  text += "</ns1:Document>";
  return text;
}

// SignedInfoWith is a SignedInfo for `digestValue` with empty-element tags and a blank in one tag,
// so that it differs from its canonical form.
std::string SignedInfoWith(const std::string& digestValue) {
  return "<ds:SignedInfo xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\">"
         "<ds:CanonicalizationMethod Algorithm=\"http://www.w3.org/2001/10/xml-exc-c14n#\"/>"
         "<ds:SignatureMethod "
         "Algorithm=\"http://www.w3.org/2001/04/xmldsig-more#gostr34102001-gostr3411\"/>"
         "<ds:Reference URI=\"#body\"  ><ds:Transforms>"
         "<ds:Transform Algorithm=\"http://www.w3.org/2001/10/xml-exc-c14n#\"/></ds:Transforms>"
         "<ds:DigestMethod Algorithm=\"http://www.w3.org/2001/04/xmldsig-more#gostr3411\"/>"
         "<ds:DigestValue>" +
         digestValue + "</ds:DigestValue></ds:Reference></ds:SignedInfo>";
}

// MakeFixture issues a GOST 2001 root -> CA -> signer chain and files it in the state folder
// (root in LocalMachine ROOT, CA in LocalMachine CA, signer in CurrentUser MY), then builds the
// fragment, the SignedInfo and the signature value with libxml2 and OpenSSL. Nullopt on failure
// (the reason on standard error).
std::optional<Fixture> MakeFixture() {
  tests::Pki pki;
  try {
    pki = tests::MakePki(tests::pki::KeyKind::kGost2001);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "xml_load: %s\n", e.what());
    return std::nullopt;
  }
  tests::AddToStore(platform::StoreLocation::kLocalMachine, "ROOT", pki.root);
  tests::AddToStore(platform::StoreLocation::kLocalMachine, "CA", pki.ca);
  tests::AddToStore(platform::StoreLocation::kCurrentUser, "MY", pki.leaf);

  Fixture fixture;
  fixture.fragmentUtf8 = FragmentUtf8(false);
  fixture.changedFragmentUtf8 = FragmentUtf8(true);
  const std::optional<std::string> fragment1251 = ToCp1251(fixture.fragmentUtf8);
  const std::optional<std::string> changed1251 = ToCp1251(fixture.changedFragmentUtf8);
  const std::optional<std::string> canonicalFragment = Canonical(fixture.fragmentUtf8);
  if (!fragment1251 || !changed1251 || !canonicalFragment) {
    std::fprintf(stderr, "xml_load: cannot convert or canonicalize the fragment\n");
    return std::nullopt;
  }
  fixture.fragment1251 = *fragment1251;
  fixture.changedFragment1251 = *changed1251;
  fixture.signedInfo = SignedInfoWith(DigestBase64(*canonicalFragment));
  const std::optional<std::string> canonicalSignedInfo = Canonical(fixture.signedInfo);
  if (!canonicalSignedInfo || *canonicalSignedInfo == fixture.signedInfo) {
    std::fprintf(stderr, "xml_load: the SignedInfo does not canonicalize to a new form\n");
    return std::nullopt;
  }
  const std::span<const uint8_t> signedBytes(
      reinterpret_cast<const uint8_t*>(canonicalSignedInfo->data()), canonicalSignedInfo->size());
  fixture.signatureValue = tests::pki::SignRaw(pki.leafKey, signedBytes).signature;
  fixture.changedSignatureValue = fixture.signatureValue;
  if (!fixture.changedSignatureValue.empty()) fixture.changedSignatureValue[5] ^= 0x10;
  fixture.certificate = pki.leaf.Der();
  // The blocks go as single lines that start with "<", so no line needs dot-stuffing.
  for (const std::string* text :
       {&fixture.fragment1251, &fixture.changedFragment1251, &fixture.signedInfo}) {
    if (text->find_first_of("\r\n") != std::string::npos || text->front() != '<') {
      std::fprintf(stderr, "xml_load: a block text is not one line starting with <\n");
      return std::nullopt;
    }
  }
  if (fixture.signatureValue.empty() || fixture.certificate.empty()) {
    std::fprintf(stderr, "xml_load: cannot sign the SignedInfo\n");
    return std::nullopt;
  }
  return fixture;
}

// ---- ours -----------------------------------------------------------------------------------

// XmlClient connects to `port` and sends CRLOFF, the SignedInfo, the signature value `value`, the
// certificate and `fragment`, each answered "OK"; it is then ready for "CHECK". Nullopt with
// `failure` set when a step is not answered "OK".
std::optional<tests::TestClient> XmlClient(int port, const Fixture& fixture,
                                           const std::string& fragment,
                                           const std::vector<uint8_t>& value,
                                           std::string& failure) {
  std::optional<tests::TestClient> client = tests::TestClient::Connect(port);
  if (!client) {
    failure = "cannot connect";
    return std::nullopt;
  }
  client->ReadGreeting();
  const std::pair<const char*, std::string> kSteps[] = {
      {"CRLOFF", client->Command("CRLOFF")},
      {"STRS", client->SendBlock("STRS", fixture.signedInfo + "\r\n")},
      {"SIGN", client->SendBlock("SIGN", tests::Base64Lines(value))},
      {"CERT", client->SendBlock("CERT", tests::Base64Lines(fixture.certificate))},
      {"HASHEDXML", client->SendBlock("HASHEDXML", fragment + "\r\n")},
  };
  for (const auto& [command, answer] : kSteps) {
    if (!answer.starts_with("OK")) {
      failure = std::string(command) + " answered: " + answer;
      return std::nullopt;
    }
  }
  return client;
}

// RefusedByOurs is true when the server answers CHECK with "CheckSignature: FAIL" for a changed
// fragment and for a changed signature value.
bool RefusedByOurs(int port, const Fixture& fixture) {
  const std::pair<const std::string*, const std::vector<uint8_t>*> kChanged[] = {
      {&fixture.changedFragment1251, &fixture.signatureValue},
      {&fixture.fragment1251, &fixture.changedSignatureValue},
  };
  for (const auto& [fragment, value] : kChanged) {
    std::string failure;
    std::optional<tests::TestClient> client = XmlClient(port, fixture, *fragment, *value, failure);
    if (!client || tests::AnswerLine(tests::RunCheck(*client), "CheckSignature") != "FAIL") {
      return false;
    }
  }
  return true;
}

void OursWorker(LoadRun& run, int port, const Fixture& fixture) {
  std::string failure;
  std::optional<tests::TestClient> client =
      XmlClient(port, fixture, fixture.fragment1251, fixture.signatureValue, failure);
  if (!client) run.Fail(failure);
  CheckUntilStopped(run, client);
}

std::optional<ServedRate> MeasureOurs(const Options& options, const std::string& folder,
                                      const Fixture& fixture, const std::string& level) {
  ServerLaunch serverLaunch{options.server, {"QUILMAREND_LOG_LEVEL=" + level}, ""};
  if (options.logToFile) serverLaunch.logPath = folder + "/server-" + level + ".log";
  const std::string part = "ours at " + level;
  std::optional<ServedRate> served = RunAgainst(
      kNames, part.c_str(), serverLaunch, kConnections, options.warmup, options.seconds,
      [&](LoadRun& run, int port) { OursWorker(run, port, fixture); },
      [&](int port) {
        if (RefusedByOurs(port, fixture)) return true;
        std::fprintf(stderr,
                     "xml_load: the server accepts a changed fragment or signature value\n");
        return false;
      });
  if (served) PrintCpuSplit(kNames, part, served->perStep);
  return served;
}

// ---- baseline -------------------------------------------------------------------------------

// BaselineVerify does the three steps with libxml2 and OpenSSL alone: the canonical fragment's
// digest appears in `signedInfo`, and `value` verifies over the canonical `signedInfo` with the
// key of the DER certificate `certificate`.
bool BaselineVerify(const std::string& fragmentUtf8, const std::string& signedInfo,
                    std::span<const uint8_t> value, std::span<const uint8_t> certificate) {
  const std::optional<std::string> canonicalFragment = Canonical(fragmentUtf8);
  if (!canonicalFragment) return false;
  const std::string digest = DigestBase64(*canonicalFragment);
  if (digest.empty() || signedInfo.find(digest) == std::string::npos) return false;
  const std::optional<std::string> canonicalSignedInfo = Canonical(signedInfo);
  if (!canonicalSignedInfo) return false;
  const unsigned char* p = certificate.data();
  const tests::pki::X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(certificate.size())));
  EVP_PKEY* key = cert ? X509_get0_pubkey(cert.get()) : nullptr;
  const tests::pki::EvpMdCtxPtr context(EVP_MD_CTX_new());
  const bool verified =
      key != nullptr && context &&
      EVP_DigestVerifyInit(context.get(), nullptr, Gost94(), nullptr, key) == 1 &&
      EVP_DigestVerify(context.get(), value.data(), value.size(),
                       reinterpret_cast<const unsigned char*>(canonicalSignedInfo->data()),
                       canonicalSignedInfo->size()) == 1;
  ERR_clear_error();
  return verified;
}

std::optional<double> MeasureBaseline(const Options& options, const Fixture& fixture) {
  if (!BaselineVerify(fixture.fragmentUtf8, fixture.signedInfo, fixture.signatureValue,
                      fixture.certificate)) {
    std::fprintf(stderr, "xml_load: the baseline refuses the fixture\n");
    return std::nullopt;
  }
  if (BaselineVerify(fixture.changedFragmentUtf8, fixture.signedInfo, fixture.signatureValue,
                     fixture.certificate) ||
      BaselineVerify(fixture.fragmentUtf8, fixture.signedInfo, fixture.changedSignatureValue,
                     fixture.certificate)) {
    std::fprintf(stderr, "xml_load: the baseline accepts a changed fragment or signature value\n");
    return std::nullopt;
  }
  return RunThreads(kNames, "baseline libxml2+EVP", kBaselineThreads, kBaselineWarmup,
                    options.seconds, [&](LoadRun& run) {
                      run.Ready();
                      while (run.Running()) {
                        if (!BaselineVerify(fixture.fragmentUtf8, fixture.signedInfo,
                                            fixture.signatureValue, fixture.certificate)) {
                          return run.Fail("the baseline refused");
                        }
                        run.Done();
                      }
                    });
}

// ---- gethash --------------------------------------------------------------------------------

// GetHashTimes are the medians of the two ways to hash the file, in seconds.
struct GetHashTimes {
  double ours = 0;
  double openssl = 0;
};

void CloseFile(std::FILE* file) { std::fclose(file); }

// MakeBigFile writes `mib` MiB of pseudo-random bytes to `path`; false when it cannot.
bool MakeBigFile(const std::string& path, size_t mib) {
  std::mt19937_64 generator(3847);
  std::vector<uint8_t> piece(kMib);
  std::FILE* opened = std::fopen(path.c_str(), "wb");
  if (opened == nullptr) return false;
  const std::unique_ptr<std::FILE, tests::pki::FreeWith<CloseFile>> file(opened);
  for (size_t i = 0; i < mib; ++i) {
    for (size_t j = 0; j < piece.size(); j += 8) {
      const uint64_t word = generator();
      for (size_t k = 0; k < 8; ++k) piece[j + k] = static_cast<uint8_t>(word >> (8 * k));
    }
    if (std::fwrite(piece.data(), 1, piece.size(), file.get()) != piece.size()) return false;
  }
  return std::fflush(file.get()) == 0;
}

// NibblesSwapped turns the server's digest text (each byte low nibble first, upper case) into the
// usual lower-case hexadecimal; empty when `text` is not such a text.
std::string NibblesSwapped(std::string_view text) {
  if (text.empty() || text.size() % 2 != 0) return {};
  std::string usual;
  for (size_t i = 0; i < text.size(); i += 2) {
    if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
      return {};
    }
    usual += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i + 1])));
    usual += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
  }
  return usual;
}

// OpensslDigest runs `openssl dgst -engine gost -md_gost94 path` and returns the hexadecimal
// after "= " on its output line; empty on failure.
std::string OpensslDigest(const std::string& path) {
  const std::optional<std::string> output =
      RunCapturing({"openssl", "dgst", "-engine", "gost", "-md_gost94", path});
  if (!output) return {};
  const size_t equals = output->rfind("= ");
  if (equals == std::string::npos) return {};
  std::string digest = output->substr(equals + 2);
  while (!digest.empty() && std::isspace(static_cast<unsigned char>(digest.back()))) {
    digest.pop_back();
  }
  return digest;
}

double SecondsSince(Clock::time_point start) { return Seconds(Clock::now() - start).count(); }

// TimeGetHash hashes the file `path` `runs` times each way, alternating, and requires every
// digest to be the same. Nullopt (the reason on standard error) on a failure or a disagreement.
std::optional<GetHashTimes> TimeGetHash(const Options& options, const std::string& path) {
  server::ServerStart started = server::TCPServer::Start(0, 2);
  if (const std::string* failure = std::get_if<std::string>(&started)) {
    std::fprintf(stderr, "xml_load: %s\n", failure->c_str());
    return std::nullopt;
  }
  const std::unique_ptr<server::TCPServer> server = std::move(std::get<0>(started));
  constexpr std::string_view kHashAnswer = "OK: Hash=";
  std::vector<double> ours, openssl;
  std::string oursDigest, opensslDigest;
  for (int run = 0; run < options.runs; ++run) {
    // A connection per run: the server closes one that stays silent for its time-out, and the
    // openssl run in between can take longer than that on a loaded machine.
    std::optional<tests::TestClient> client = tests::TestClient::Connect(server->BoundPort());
    if (!client) {
      std::fprintf(stderr, "xml_load: cannot connect for GETHASH\n");
      return std::nullopt;
    }
    client->ReadGreeting();
    Clock::time_point start = Clock::now();
    client->Send("GETHASH file://" + path + "\r\n");
    const std::string answer = client->ReadLine(kGetHashLimitMs);
    ours.push_back(SecondsSince(start));
    start = Clock::now();
    const std::string digest = OpensslDigest(path);
    openssl.push_back(SecondsSince(start));
    if (!answer.starts_with(kHashAnswer) || !answer.ends_with("\r\n") || digest.empty()) {
      std::fprintf(stderr, "xml_load: GETHASH answered \"%s\", openssl gave \"%s\"\n",
                   answer.c_str(), digest.c_str());
      return std::nullopt;
    }
    const std::string text =
        answer.substr(kHashAnswer.size(), answer.size() - 2 - kHashAnswer.size());
    if ((!oursDigest.empty() && text != oursDigest) ||
        (!opensslDigest.empty() && digest != opensslDigest)) {
      std::fprintf(stderr, "xml_load: a repeated digest differs\n");
      return std::nullopt;
    }
    oursDigest = text;
    opensslDigest = digest;
  }
  if (NibblesSwapped(oursDigest) != opensslDigest) {
    std::fprintf(stderr, "xml_load: GETHASH gave %s (%s byte by byte), openssl %s\n",
                 oursDigest.c_str(), NibblesSwapped(oursDigest).c_str(), opensslDigest.c_str());
    return std::nullopt;
  }
  std::printf("XmlLoad GETHASH digest %s, the same from both\n", opensslDigest.c_str());
  return GetHashTimes{Median(ours), Median(openssl)};
}

std::optional<GetHashTimes> MeasureGetHash(const Options& options, const std::string& folder) {
  const std::string path = folder + "/gethash.bin";
  if (!MakeBigFile(path, options.fileMib)) {
    std::fprintf(stderr, "xml_load: cannot write %zu MiB to %s\n", options.fileMib, path.c_str());
    return std::nullopt;
  }
  std::optional<GetHashTimes> times = TimeGetHash(options, path);
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  return times;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  const std::optional<bench::Options> options = bench::ParseOptions(argc, argv);
  if (!options) {
    std::fprintf(stderr,
                 "usage: xml_load [--seconds=N] [--warmup=N] [--only=ours|baseline|gethash] "
                 "[--runs=N] [--file-mib=N] [--log=pipe|file] [--server=PATH]\n");
    return 2;
  }
  // The state root and the log channel are fixed by their first use, so they are chosen before
  // anything else runs. The log goes into a drained pipe, or with --log=file to the state folder
  // unless QUILMAREND_LOG names another file.
  const bench::StateFolder folder("quilmarend-xml-load");
  if (!bench::UseAsHome(folder, bench::kNames)) return 1;
  if (options->logToFile) {
    const char* named = std::getenv("QUILMAREND_LOG");
    const std::string path =
        named != nullptr && *named != '\0' ? named : folder.Path() + "/server.log";
    if (const std::string refusal = platform::OpenDebugChannelFile(path); !refusal.empty()) {
      std::fprintf(stderr, "%s: %s: %s\n", bench::kNames.program, path.c_str(), refusal.c_str());
      return 1;
    }
  } else if (!bench::LogIntoDrainedPipe(bench::kNames)) {
    return 1;
  }
  if (!tests::pki::LoadGostEngine()) return 1;
  xmlInitParser();

  bool failed = false;
  std::optional<double> baseline;
  std::optional<bench::ServedRate> info, debug;
  if (options->Runs("ours") || options->Runs("baseline")) {
    const std::optional<bench::Fixture> fixture = bench::MakeFixture();
    if (!fixture) return 1;
    if (options->Runs("baseline")) {
      baseline = bench::MeasureBaseline(*options, *fixture);
      failed = failed || !baseline;
    }
    if (options->Runs("ours")) {
      info = bench::MeasureOurs(*options, folder.Path(), *fixture, "info");
      debug = bench::MeasureOurs(*options, folder.Path(), *fixture, "debug");
      failed = failed || !info || !debug;
    }
  }
  std::optional<bench::GetHashTimes> hashing;
  if (options->Runs("gethash")) {
    hashing = bench::MeasureGetHash(*options, folder.Path());
    failed = failed || !hashing;
  }

  for (const auto& [level, served] : {std::pair{"info", info}, std::pair{"debug", debug}}) {
    if (!served) continue;
    std::printf("XmlLoad ours at %s %.0f CHECKs/s over %d connections, every answer OK\n", level,
                served->rate, bench::kConnections);
  }
  if (baseline) {
    std::printf("XmlLoad baseline %.0f verifications/s on %d threads\n", *baseline,
                bench::kBaselineThreads);
  }
  if (info && baseline && *baseline > 0) {
    std::printf("XmlLoad ours/baseline at info %.3f (target at least 0.80: %s)\n",
                info->rate / *baseline, bench::Verdict(info->rate / *baseline >= 0.80));
  }
  if (debug && baseline && *baseline > 0) {
    std::printf("XmlLoad ours/baseline at debug %.3f\n", debug->rate / *baseline);
  }
  if (hashing && hashing->openssl > 0) {
    std::printf("XmlLoad GETHASH %zu MiB: ours %.2f s, openssl dgst %.2f s (median of %d each)\n",
                options->fileMib, hashing->ours, hashing->openssl, options->runs);
    std::printf("XmlLoad GETHASH ours/openssl %.3f (target at most 1.20: %s)\n",
                hashing->ours / hashing->openssl,
                bench::Verdict(hashing->ours / hashing->openssl <= 1.2));
  }
  return failed ? 1 : 0;
}
