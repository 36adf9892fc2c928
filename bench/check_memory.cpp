// The memory one CHECK takes in the server, for two requests whose data the server once decoded
// or read whole outside what it counts for a connection. The server binary runs as a child (its
// log in server.log of a temporary state folder), one fresh server per run, and its VmRSS is
// sampled every 20 ms while the CHECK runs:
//  - certificates: a detached ECDSA P-256 signature whose message also carries --certificates
//    (160) self-issued certificates of --extensions (9000) empty extensions each, about 11 MB;
//    the signature must still verify;
//  - reference: a bare GOST R 34.10-2001 signature value with the signer's certificate (CERT, no
//    HASHEDXML: not XML) over a document of --mib MiB (256) of random bytes given as file:///;
//    the signature must verify.
// Each part runs --runs times (3) and prints, per run, the peak VmRSS above the VmRSS just before
// the CHECK (the blocks already held) and above the idle server, then the median. The lines to
// track:
//   CheckMemory certificates: VmRSS peak 9.1 MiB above the blocks held (target under 64 MiB: met)
//   CheckMemory reference: VmRSS peak 1.3 MiB above the blocks held (target under 64 MiB: met)
// --server=PATH measures another build (the one before a change, to compare); --only=certificates
// or --only=reference runs one part. A wrong answer or a server that does not answer makes the
// exit status 1.
//
// Example:
//   build/bench/check_memory
//   build/bench/check_memory --server=/path/to/old/quilmarend --only=certificates

#include <cstdio>
#include <exception>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bench/load_support.h"
#include "tests/check_support.h"
#include "tests/pki/cms.h"
#include "tests/pki/raw_signature.h"
#include "tests/test_client.h"

namespace bench {
namespace {

const Names kNames{"check_memory", "CheckMemory"};
constexpr long kTargetKib = 64 * 1024;
// Decoding thousands of certificates, or hashing a large file, may take a while.
constexpr int kAnswerTimeoutMs = 10 * 60 * 1000;

struct Options {
  std::string server = QUILMAREND_BINARY;
  std::string only;
  int runs = 3;
  int certificates = 160;
  int extensions = 9000;
  int mib = 256;
};

// ParseOptions reads the options above; nullopt on anything else.
std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.starts_with("--server=")) {
      options.server = argument.substr(9);
    } else if (argument == "--only=certificates" || argument == "--only=reference") {
      options.only = argument.substr(7);
    } else if (!ReadCount(argument, "--runs=", 100, options.runs) &&
               !ReadCount(argument, "--certificates=", 10000, options.certificates) &&
               !ReadCount(argument, "--extensions=", 100000, options.extensions) &&
               !ReadCount(argument, "--mib=", 4096, options.mib)) {
      return std::nullopt;
    }
  }
  return options;
}

// Request is what a part sends before its CHECK: blocks (command, Base64 lines) and commands.
struct Request {
  std::vector<std::pair<std::string, std::string>> blocks;
  std::vector<std::string> commands;
};

// CertificatesRequest signs a short document with a message that carries many certificates of
// many empty extensions besides the signer's.
Request CertificatesRequest(const Options& options) {
  const tests::Pki p = tests::MakePki(tests::pki::KeyKind::kEcdsaP256);
  const tests::pki::Key key = tests::pki::CachedKey(tests::pki::KeyKind::kEcdsaP256, 5);
  tests::pki::CertSpec certSpec;
  certSpec.subject = {{"CN", "Stowaway"}};
  for (int i = 0; i < options.extensions; ++i) {
    certSpec.extra.push_back({"1.2." + std::to_string(1 + i % 100), false, {}});
  }
  std::vector<tests::pki::Cert> stowaways;
  for (int i = 0; i < options.certificates; ++i) {
    certSpec.serial = {static_cast<uint8_t>(1 + i / 250), static_cast<uint8_t>(i % 250)};
    stowaways.push_back(tests::pki::Issue(certSpec, key, nullptr, key));
  }
  const std::vector<uint8_t> document = {'d', 'o', 'c'};
  const std::vector<uint8_t> message =
      tests::pki::SignDetached(document, {{p.leaf, p.leafKey}}, stowaways);
  std::printf("CheckMemory certificates: a message of %.1f MB\n", message.size() / 1e6);
  return {{{"STRS", tests::Base64Lines(document)}, {"SIGN", tests::Base64Lines(message)}},
          {"CRLOFF", "FINDOFF"}};
}

// ReferenceRequest writes a document of random bytes into `folder` and signs it with a bare GOST
// signature value, to be checked with the signer's certificate.
std::optional<Request> ReferenceRequest(const Options& options, const std::string& folder) {
  const tests::Pki p = tests::MakePki(tests::pki::KeyKind::kGost2001);
  std::vector<uint8_t> document(static_cast<size_t>(options.mib) << 20);
  std::mt19937_64 generator(3847);
  for (uint8_t& byte : document) byte = static_cast<uint8_t>(generator());
  const std::string path = folder + "/document.bin";
  const std::vector<uint8_t> value = tests::pki::SignRaw(p.leafKey, document).signature;
  if (value.empty() || !WriteFile(path, document)) {
    std::fprintf(stderr, "check_memory: cannot sign or write the document\n");
    return std::nullopt;
  }
  return Request{{{"CERT", tests::Base64Lines(p.leaf.Der())}, {"SIGN", tests::Base64Lines(value)}},
                 {"STRS file://" + path, "CRLOFF", "FINDOFF"}};
}

// Peaks are one run's figures in KiB.
struct Peaks {
  long idle = -1, held = -1, peak = -1;
};

// MeasureRun starts a server, sends `request` and one CHECK and samples the server's VmRSS;
// nullopt when the server does not answer or the signature does not verify.
std::optional<Peaks> MeasureRun(const Options& options, const std::string& folder,
                                const Request& request) {
  const int port = FreePort();
  ServerProcess server(ServerLaunch{options.server, {}, folder + "/server.log"}, port);
  if (!server.WaitListening(port, kNames)) return std::nullopt;
  Peaks peaks;
  peaks.idle = ResidentKib(server.Pid(), "VmRSS");
  std::optional<tests::TestClient> client = tests::TestClient::Connect(port);
  if (!client) return std::nullopt;
  client->ReadGreeting();
  client->Command("B64ON");
  for (const auto& [command, body] : request.blocks) client->SendBlock(command, body);
  for (const std::string& command : request.commands) client->Command(command);
  peaks.held = ResidentKib(server.Pid(), "VmRSS");
  PeakSampler sampler(server.Pid());
  client->Send("CHECK\r\n");
  const std::string answer = client->ReadUntilDot(kAnswerTimeoutMs);
  peaks.peak = sampler.Stop();
  if (tests::AnswerLine(answer, "CheckSignature") != "OK") {
    std::fprintf(stderr, "check_memory: unexpected answer:\n%s", answer.c_str());
    return std::nullopt;
  }
  return peaks;
}

// RunPart measures `runs` runs of `request` and prints them; false when one failed.
bool RunPart(const Options& options, const std::string& folder, const char* part,
             const Request& request) {
  std::vector<double> aboveHeld, aboveIdle;
  for (int run = 1; run <= options.runs; ++run) {
    const std::optional<Peaks> peaks = MeasureRun(options, folder, request);
    if (!peaks) return false;
    aboveHeld.push_back(Mib(peaks->peak - peaks->held));
    aboveIdle.push_back(Mib(peaks->peak - peaks->idle));
    std::printf("CheckMemory %s run %d: VmRSS idle %.1f MiB, blocks held %.1f MiB, peak %.1f MiB\n",
                part, run, Mib(peaks->idle), Mib(peaks->held), Mib(peaks->peak));
    std::fflush(stdout);
  }
  const double held = Median(aboveHeld);
  std::printf(
      "CheckMemory %s: VmRSS peak %.1f MiB above the blocks held, %.1f MiB above idle "
      "(target under 64 MiB: %s)\n",
      part, held, Median(aboveIdle), Verdict(held * 1024 < kTargetKib));
  return true;
}

int Run(const Options& options) {
  const StateFolder folder("quilmarend-check-memory");
  if (!UseAsHome(folder, kNames)) return 1;
  std::printf("CheckMemory server %s, %d runs each\n", options.server.c_str(), options.runs);
  bool ok = true;
  if (options.only.empty() || options.only == "certificates") {
    ok = RunPart(options, folder.Path(), "certificates", CertificatesRequest(options)) && ok;
  }
  if (options.only.empty() || options.only == "reference") {
    const std::optional<Request> request = ReferenceRequest(options, folder.Path());
    ok = request && RunPart(options, folder.Path(), "reference", *request) && ok;
  }
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  const std::optional<bench::Options> options = bench::ParseOptions(argc, argv);
  if (!options) {
    std::fprintf(stderr,
                 "usage: check_memory [--server=PATH] [--only=certificates|reference] [--runs=N] "
                 "[--certificates=N] [--extensions=N] [--mib=N]\n");
    return 2;
  }
  try {
    return bench::Run(*options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "check_memory: %s\n", e.what());
    return 1;
  }
}
