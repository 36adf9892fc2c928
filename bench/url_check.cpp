// The URL CHECK benchmark: a detached ECDSA P-256 signature over a large document that the server
// downloads by URL, against the same download and verification done by two commands, measured in
// the same run since absolute times belong to the machine:
//  - ours: the server binary run as a child process. One connection sends the signature (SIGN)
//    and CRLOFF once, then for each run `STRS http://127.0.0.1:PORT/doc.bin` (the document text is
//    replaced by the local file name after a CHECK) and CHECK, which downloads the document into a
//    temporary file, verifies it in pieces and deletes the file; every answer must say
//    "CheckSignature: OK" and "CheckChain: OK". While a CHECK runs the server's VmRSS is sampled
//    every 20 ms; the peak is reported above the VmRSS of the idle connection just before the
//    first CHECK. The root is in the LocalMachine ROOT store and the signer in the CurrentUser MY
//    store of a temporary state folder, and TMPDIR points the downloads into a folder of their own
//    there, which must be empty at the end.
//  - baseline: `curl -s -o FILE URL` then `openssl cms -verify -binary -noverify` of the same
//    signature over FILE, which is then removed; openssl must first refuse a document with one
//    byte changed, so that a baseline that verifies nothing cannot pass for a fast one.
// The document (random bytes) is served by an in-process HTTP server on 127.0.0.1; each figure is
// the median of --runs runs.
// The lines to track (each target line says whether its target is met):
//   UrlCheck ours/baseline 1.12 (target at most 1.30: met)
//   UrlCheck server VmRSS peak 12.3 MiB above idle (target under 64 MiB: met)
//   UrlCheck temporary folder left 0 files
// A wrong answer, a failed baseline run or a file left in the temporary folder makes the exit
// status 1. The server's log goes to server.log in the temporary state folder.
//
// Example:
//   build/bench/url_check                    # a 256 MiB document, median of 3 runs each
//   build/bench/url_check --mib=16 --runs=1  # a quick try

#include <stdlib.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "bench/load_support.h"
#include "platform/crypto/cert_store.h"
#include "tests/check_support.h"
#include "tests/pki/cms.h"
#include "tests/pki/http_server.h"
#include "tests/pki/key.h"
#include "tests/test_client.h"

extern char** environ;

namespace bench {
namespace {

const Names kNames{"url_check", "UrlCheck"};
constexpr std::string_view kDocumentPath = "/doc.bin";
// A CHECK of a large document on a slow disk may take a while; a silent server still ends the run.
constexpr int kAnswerTimeoutMs = 10 * 60 * 1000;
constexpr double kRatioTarget = 1.30;
constexpr long kPeakTargetKib = 64 * 1024;
constexpr int kMaxMib = 64 * 1024;

struct Options {
  int mib = 256;
  int runs = 3;
};

// ParseOptions reads --mib=N and --runs=N; nullopt on anything else.
std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (!ReadCount(argument, "--mib=", kMaxMib, options.mib) &&
        !ReadCount(argument, "--runs=", 1000, options.runs)) {
      return std::nullopt;
    }
  }
  return options;
}

// Fixture is what both sides check: the document's URL, its detached signature (also as a file
// for openssl), and a file holding the document with one byte changed.
struct Fixture {
  std::string url;
  std::vector<uint8_t> signature;
  std::string signaturePath;
  std::string changedDocumentPath;
};

// MakeFixture issues an ECDSA P-256 root -> CA -> signer chain, trusts the root (LocalMachine
// ROOT) and files the signer (CurrentUser MY) in the state folder, signs `mib` MiB of random
// bytes, the CA certificate travelling in the message, and serves them from `http`. Nullopt on
// failure (the reason on standard error).
std::optional<Fixture> MakeFixture(const std::string& folder, int mib,
                                   tests::pki::HttpServer& http) {
  if (http.Port() == 0) {
    std::fprintf(stderr, "url_check: the HTTP server cannot listen\n");
    return std::nullopt;
  }
  const tests::Pki pki = tests::MakePki(tests::pki::KeyKind::kEcdsaP256);
  tests::AddToStore(platform::StoreLocation::kLocalMachine, "ROOT", pki.root);
  tests::AddToStore(platform::StoreLocation::kCurrentUser, "MY", pki.leaf);

  std::vector<uint8_t> document(static_cast<size_t>(mib) << 20);
  std::mt19937_64 generator(3847);
  for (size_t i = 0; i < document.size(); i += sizeof(uint64_t)) {
    const uint64_t word = generator();
    std::copy_n(reinterpret_cast<const uint8_t*>(&word), sizeof word, document.data() + i);
  }

  Fixture fixture;
  fixture.signature = tests::pki::SignDetached(document, {{pki.leaf, pki.leafKey}}, {pki.ca});
  fixture.signaturePath = folder + "/signature.p7s";
  fixture.changedDocumentPath = folder + "/changed.bin";
  const size_t middle = document.size() / 2;
  document[middle] ^= 1;
  const bool changedWritten = WriteFile(fixture.changedDocumentPath, document);
  document[middle] ^= 1;
  if (fixture.signature.empty() || !changedWritten ||
      !WriteFile(fixture.signaturePath, fixture.signature)) {
    std::fprintf(stderr, "url_check: cannot sign or write the fixture\n");
    return std::nullopt;
  }
  http.Serve(kDocumentPath, std::move(document), "application/octet-stream");
  fixture.url = http.Url(kDocumentPath);
  return fixture;
}

struct OursResult {
  std::vector<double> seconds;
  long idleKib = -1;
  long peakKib = -1;       // the largest sample during the CHECKs
  long highWaterKib = -1;  // VmHWM at the end, start-up included
};

// MeasureOurs starts the server binary, sends the signature once and times `runs` CHECKs of the
// URL, sampling the server's VmRSS meanwhile. Nullopt on a wrong answer or a server that does not
// answer (the reason on standard error).
std::optional<OursResult> MeasureOurs(const Options& options, const std::string& folder,
                                      const Fixture& fixture) {
  const int port = FreePort();
  ServerProcess server(QUILMAREND_BINARY, port, folder + "/server.log");
  if (!server.WaitListening(port, kNames)) return std::nullopt;
  std::optional<tests::TestClient> client = tests::TestClient::Connect(port);
  if (!client) {
    std::fprintf(stderr, "url_check: cannot connect to port %d\n", port);
    return std::nullopt;
  }
  client->ReadGreeting();
  client->SendBlock("SIGN", tests::Base64Lines(fixture.signature));
  client->Command("CRLOFF");

  OursResult result;
  result.idleKib = ResidentKib(server.Pid(), "VmRSS");
  if (result.idleKib < 0) {
    std::fprintf(stderr, "url_check: cannot read /proc/%d/status\n", server.Pid());
    return std::nullopt;
  }
  for (int run = 0; run < options.runs; ++run) {
    const std::string stored = client->Command("STRS " + fixture.url);
    if (!stored.starts_with("OK")) {
      std::fprintf(stderr, "url_check: STRS answered: %s", stored.c_str());
      return std::nullopt;
    }
    PeakSampler sampler(server.Pid());
    const Clock::time_point start = Clock::now();
    client->Send("CHECK\r\n");
    const std::string answer = client->ReadUntilDot(kAnswerTimeoutMs);
    const Seconds elapsed = Clock::now() - start;
    result.peakKib = std::max(result.peakKib, sampler.Stop());
    if (!GoodAnswer(answer)) {
      std::fprintf(stderr, "url_check: ours: unexpected answer:\n%s", answer.c_str());
      return std::nullopt;
    }
    result.seconds.push_back(elapsed.count());
    std::printf("UrlCheck ours run %d: %.2f s\n", run + 1, elapsed.count());
  }
  result.highWaterKib = ResidentKib(server.Pid(), "VmHWM");
  return result;
}

// OpensslVerify runs one `openssl cms -verify` of the fixture's signature over `documentPath`;
// true when it succeeds.
bool OpensslVerify(const Fixture& fixture, const std::string& documentPath) {
  const pid_t pid =
      Spawn({"openssl", "cms", "-verify", "-binary", "-inform", "DER", "-noverify", "-content",
             documentPath, "-in", fixture.signaturePath, "-out", "/dev/null"},
            environ);
  return pid > 0 && WaitExit(pid) == 0;
}

// CurlDownload runs `curl -s -o path url`; true when it succeeds.
bool CurlDownload(const std::string& url, const std::string& path) {
  const pid_t pid = Spawn({"curl", "-s", "-o", path, url}, environ);
  return pid > 0 && WaitExit(pid) == 0;
}

// MeasureBaseline times `runs` downloads with curl, each followed by openssl's verification of the
// file and its removal. Nullopt when openssl accepts the changed document or a run fails.
std::optional<std::vector<double>> MeasureBaseline(const Options& options,
                                                   const std::string& folder,
                                                   const Fixture& fixture) {
  if (OpensslVerify(fixture, fixture.changedDocumentPath)) {
    std::fprintf(stderr, "url_check: openssl cms -verify accepts a changed document\n");
    return std::nullopt;
  }
  const std::string path = folder + "/baseline.bin";
  std::vector<double> seconds;
  for (int run = 0; run < options.runs; ++run) {
    const Clock::time_point start = Clock::now();
    if (!CurlDownload(fixture.url, path)) {
      std::fprintf(stderr, "url_check: baseline: `curl -s -o %s %s` failed\n", path.c_str(),
                   fixture.url.c_str());
      return std::nullopt;
    }
    if (!OpensslVerify(fixture, path)) {
      std::fprintf(stderr, "url_check: baseline: `openssl cms -verify` refused the download\n");
      return std::nullopt;
    }
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    const Seconds elapsed = Clock::now() - start;
    seconds.push_back(elapsed.count());
    std::printf("UrlCheck baseline run %d: %.2f s\n", run + 1, elapsed.count());
  }
  return seconds;
}

// CountEntries returns how many entries `folder` holds; -1 when it cannot be read.
long CountEntries(const std::string& folder) {
  std::error_code error;
  long count = 0;
  for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    ++count;
  }
  return error ? -1 : count;
}

int Run(const Options& options) {
  // The state root is fixed by its first use, so it is chosen before anything else runs; the
  // server child inherits it and the private temporary folder.
  const StateFolder folder("quilmarend-url");
  if (!UseAsHome(folder, kNames)) return 1;
  const std::string temporary = folder.Path() + "/tmp";
  std::error_code error;
  if (!std::filesystem::create_directory(temporary, error)) {
    std::fprintf(stderr, "url_check: cannot make %s\n", temporary.c_str());
    return 1;
  }
  setenv("TMPDIR", temporary.c_str(), 1);

  tests::pki::HttpServer http;
  const std::optional<Fixture> fixture = MakeFixture(folder.Path(), options.mib, http);
  if (!fixture) return 1;
  std::printf("UrlCheck document %d MiB at %s, %d runs each\n", options.mib, fixture->url.c_str(),
              options.runs);
  std::fflush(stdout);

  const std::optional<OursResult> ours = MeasureOurs(options, folder.Path(), *fixture);
  std::fflush(stdout);
  const std::optional<std::vector<double>> baseline =
      MeasureBaseline(options, folder.Path(), *fixture);
  const long left = CountEntries(temporary);

  if (ours) std::printf("UrlCheck ours %.2f s\n", Median(ours->seconds));
  if (baseline) std::printf("UrlCheck baseline %.2f s\n", Median(*baseline));
  if (ours && baseline && Median(*baseline) > 0) {
    const double ratio = Median(ours->seconds) / Median(*baseline);
    std::printf("UrlCheck ours/baseline %.2f (target at most %.2f: %s)\n", ratio, kRatioTarget,
                Verdict(ratio <= kRatioTarget));
  }
  if (ours) {
    const long above = ours->peakKib - ours->idleKib;
    std::printf("UrlCheck server VmRSS idle %.1f MiB, peak %.1f MiB, VmHWM %.1f MiB\n",
                Mib(ours->idleKib), Mib(ours->peakKib), Mib(ours->highWaterKib));
    std::printf("UrlCheck server VmRSS peak %.1f MiB above idle (target under 64 MiB: %s)\n",
                Mib(above), Verdict(above < kPeakTargetKib));
  }
  std::printf("UrlCheck temporary folder left %ld files\n", left);
  if (left != 0) std::fprintf(stderr, "url_check: %s is not empty\n", temporary.c_str());
  return ours && baseline && left == 0 ? 0 : 1;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  const std::optional<bench::Options> options = bench::ParseOptions(argc, argv);
  if (!options) {
    std::fprintf(stderr, "usage: url_check [--mib=N] [--runs=N]\n");
    return 2;
  }
  try {
    return bench::Run(*options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "url_check: %s\n", e.what());
    return 1;
  }
}
