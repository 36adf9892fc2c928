// The command-line client's latency: how long a script waits for one quilmarend-check run against
// one `openssl cms -verify` of the same files, measured in the same run since absolute times
// belong to the machine:
//  - client: the quilmarend-check binary run as a child process against the server binary, itself
//    a child on a free port with a private QUILMAREND_HOME. Each run connects, sends CRLOFF, a
//    1 KiB document and its detached signature, asks CHECK and prints the answer; it must exit
//    with 0 (the three checks OK). The root is in the LocalMachine ROOT store and the signer in
//    the CurrentUser MY store; one run before the clock starts fills the server's chain cache.
//  - openssl: `openssl cms -verify -binary -noverify` of the same signature over the same file,
//    with `-engine gost` for GOST keys.
// Both must first refuse the document with one byte changed, so that a side that verifies nothing
// cannot pass for a fast one. Each figure is the median of --runs runs (50), the two sides taking
// turns; one pass with GOST R 34.10-2001 keys, one with RSA 2048 keys.
// The lines to track (each says whether its target is met):
//   CliLatency gost2001 client/openssl 0.35 (target at most 0.50: met)
//   CliLatency rsa client/openssl 0.48 (target at most 0.50: met)
// A wrong exit status of either side makes the exit status 1. The server's log goes to server.log
// in the state folder of its pass.
//
// Example:
//   build/bench/cli_latency             # 50 runs of each side per key kind
//   build/bench/cli_latency --runs=10   # a quick try

#include <stdlib.h>

#include <cstdint>
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
#include "tests/pki/key.h"

extern char** environ;

namespace bench {
namespace {

const Names kNames{"cli_latency", "CliLatency"};
constexpr size_t kDocumentBytes = 1024;
constexpr double kRatioTarget = 0.5;

// Pass is one key kind measured: its label and whether openssl needs the GOST engine for it.
struct Pass {
  const char* label;
  tests::pki::KeyKind kind;
  bool gostEngine;
};
constexpr Pass kPasses[] = {
    {"gost2001", tests::pki::KeyKind::kGost2001, true},
    {"rsa", tests::pki::KeyKind::kRsa2048, false},
};

// Fixture is what both sides check: a document, the same with one byte changed, and a detached
// signature over the first, all as files.
struct Fixture {
  std::string documentPath, changedDocumentPath, signaturePath;
};

// MakeFixture issues a root -> CA -> signer chain of `kind` in the state folder `home` (root in
// LocalMachine ROOT, signer in CurrentUser MY) and signs a 1 KiB document, the CA certificate
// travelling in the message. Nullopt on failure (the reason on standard error).
std::optional<Fixture> MakeFixture(const std::string& home, tests::pki::KeyKind kind) {
  const tests::Pki pki = tests::MakePki(kind);
  tests::AddToFolder(home + "/stores/LocalMachine/ROOT", pki.root);
  tests::AddToFolder(home + "/stores/CurrentUser/MY", pki.leaf);
  std::vector<uint8_t> document(kDocumentBytes);
  std::mt19937 generator(3847);
  for (uint8_t& b : document) b = static_cast<uint8_t>(generator());
  const std::vector<uint8_t> signature =
      tests::pki::SignDetached(document, {{pki.leaf, pki.leafKey}}, {pki.ca});
  Fixture fixture{home + "/document.bin", home + "/changed.bin", home + "/signature.p7s"};
  const bool written = WriteFile(fixture.documentPath, document);
  document[kDocumentBytes / 2] ^= 1;
  if (signature.empty() || !written || !WriteFile(fixture.changedDocumentPath, document) ||
      !WriteFile(fixture.signaturePath, signature)) {
    std::fprintf(stderr, "cli_latency: cannot sign or write the fixture\n");
    return std::nullopt;
  }
  return fixture;
}

// Timed runs `arguments` and returns its exit status and the wall time it took in milliseconds.
std::pair<int, double> Timed(const std::vector<std::string>& arguments) {
  const Clock::time_point start = Clock::now();
  const pid_t pid = Spawn(arguments, environ);
  const int status = pid > 0 ? WaitExit(pid) : -1;
  return {status, std::chrono::duration<double, std::milli>(Clock::now() - start).count()};
}

// MeasurePass runs both sides `runs` times over the fixture of `pass` against the server on
// `port`; prints the medians and the ratio and returns false on a wrong exit status.
bool MeasurePass(const Pass& pass, const Fixture& fixture, int port, int runs) {
  const auto client = [&](const std::string& document) {
    return std::vector<std::string>{QUILMAREND_CHECK_BINARY,
                                    "--server",
                                    "127.0.0.1:" + std::to_string(port),
                                    "--no-crl",
                                    document,
                                    fixture.signaturePath};
  };
  const auto openssl = [&](const std::string& document) {
    std::vector<std::string> words = {"openssl", "cms", "-verify"};
    if (pass.gostEngine) words.insert(words.end(), {"-engine", "gost"});
    words.insert(words.end(), {"-binary", "-inform", "DER", "-noverify", "-content", document,
                               "-in", fixture.signaturePath, "-out", "/dev/null"});
    return words;
  };
  // One good run before the clock starts fills the server's chain cache. The changed document:
  // the client's verdict is a failed check (1), openssl's any failure.
  if (Timed(client(fixture.documentPath)).first != 0 ||
      Timed(client(fixture.changedDocumentPath)).first != 1 ||
      Timed(openssl(fixture.changedDocumentPath)).first == 0) {
    std::fprintf(stderr,
                 "cli_latency: %s: the document was not accepted or its change not refused\n",
                 pass.label);
    return false;
  }
  std::vector<double> ours, baseline;
  for (int run = 0; run < runs; ++run) {
    const auto [clientStatus, clientMs] = Timed(client(fixture.documentPath));
    const auto [opensslStatus, opensslMs] = Timed(openssl(fixture.documentPath));
    if (clientStatus != 0 || opensslStatus != 0) {
      std::fprintf(stderr, "cli_latency: %s: run %d: client exit %d, openssl exit %d\n", pass.label,
                   run + 1, clientStatus, opensslStatus);
      return false;
    }
    ours.push_back(clientMs);
    baseline.push_back(opensslMs);
  }
  const double ratio = Median(ours) / Median(baseline);
  std::printf("CliLatency %s client %.2f ms, openssl %.2f ms (medians of %d)\n", pass.label,
              Median(ours), Median(baseline), runs);
  std::printf("CliLatency %s client/openssl %.2f (target at most %.2f: %s)\n", pass.label, ratio,
              kRatioTarget, Verdict(ratio <= kRatioTarget));
  return true;
}

// RunPass makes the fixture of `pass` in a state folder of its own under `root`, starts the server
// binary on it and measures.
bool RunPass(const Pass& pass, const std::string& root, int runs) {
  const std::string home = root + "/" + pass.label;
  const std::optional<Fixture> fixture = MakeFixture(home, pass.kind);
  if (!fixture) return false;
  // The child reads its state folder from the environment it inherits.
  setenv("QUILMAREND_HOME", home.c_str(), 1);
  const int port = FreePort();
  ServerProcess server(QUILMAREND_BINARY, port, home + "/server.log");
  return server.WaitListening(port, kNames) && MeasurePass(pass, *fixture, port, runs);
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  int runs = 50;
  for (int i = 1; i < argc; ++i) {
    if (!bench::ReadCount(std::string_view(argv[i]), "--runs=", 10000, runs)) {
      std::fprintf(stderr, "usage: cli_latency [--runs=N]\n");
      return 2;
    }
  }
  const bench::StateFolder folder("quilmarend-cli");
  if (folder.Path().empty()) {
    std::fprintf(stderr, "cli_latency: cannot make a temporary folder\n");
    return 1;
  }
  bool failed = false;
  try {
    for (const bench::Pass& pass : bench::kPasses) {
      failed = !bench::RunPass(pass, folder.Path(), runs) || failed;
      std::fflush(stdout);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cli_latency: %s\n", e.what());
    return 1;
  }
  return failed ? 1 : 0;
}
