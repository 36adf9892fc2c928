// The command-line client's cost to a script, against what a script would run instead:
// `openssl cms -verify -binary -inform DER -content DOC -in SIG -CAfile ROOT -purpose any
// -out /dev/null` (with `-engine gost` for GOST keys), which checks the same signature and the
// same chain the server checks. Every figure is measured in the same run, since absolute times
// belong to the machine:
//  - one check: the quilmarend-check binary run as a child process against the server binary,
//    itself a child on a free port with a private QUILMAREND_HOME, checking a 1 KiB document and
//    its detached signature (--no-crl; the root in the LocalMachine ROOT store, the signer in the
//    CurrentUser MY store, the CA in the message), against one openssl run; the median of --runs
//    runs (50) of each, the two sides taking turns. Target: at most 0.5.
//  - many checks: one `quilmarend-check --batch` run over --pairs pairs (1000) of 1 KiB
//    documents, each signed on its own, against --pairs openssl runs one after the other.
//    Target: at least 20 times faster.
//  - the batch against the server's own rate on one connection: the same pairs sent by this
//    process as one stream of requests over one connection, the answers read while it goes out,
//    with no files to read and nothing to print. Target: the client reaches at least 0.8 of it.
// The batch and the stream take the median of three runs each. One pass with GOST R 34.10-2001
// keys, one with RSA 2048 keys; one check before the clock starts fills the server's chain
// cache. Both sides must first refuse the document with one byte changed, so that a side that
// verifies nothing cannot pass for a fast one. The lines to track (each says whether its target
// is met):
//   CliLatency gost2001 client/openssl 0.38 (target at most 0.50: met)
//   CliLatency gost2001 batch 1000 openssl-runs/batch 15.1 (target at least 20.0: MISSED)
//   CliLatency gost2001 batch/one-connection rate 0.94 (target at least 0.80: met)
// With GOST keys the batch is held by the server's own rate on one connection, which the GOST
// engine's verification sets.
// A wrong exit status or answer makes the exit status 1. The server's log goes to server.log in
// the state folder of its pass.
//
// Example:
//   build/bench/cli_latency                         # 50 runs of each side, 1000 pairs
//   build/bench/cli_latency --runs=10 --pairs=200   # a quick try

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/load_support.h"
#include "platform/base/base64.h"
#include "tests/check_support.h"
#include "tests/pki/cms.h"
#include "tests/pki/key.h"
#include "tests/test_client.h"

extern char** environ;

namespace bench {
namespace {

const Names kNames{"cli_latency", "CliLatency"};
constexpr size_t kDocumentBytes = 1024;
constexpr double kRatioTarget = 0.5;
constexpr double kBatchSpeedTarget = 20;
constexpr double kConnectionRateTarget = 0.8;
constexpr int kBatchRuns = 3;

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

// Pair is a document and its detached signature, as bytes and as files.
struct Pair {
  std::vector<uint8_t> document, signature;
  std::string documentPath, signaturePath;
};

// Fixture is what both sides check: the root as PEM, a pair and the same document with one byte
// changed, and the pairs of the batch with the file listing them.
struct Fixture {
  std::string rootPath, changedDocumentPath, pairsPath;
  Pair single;
  std::vector<Pair> batch;
};

std::vector<uint8_t> RandomDocument(std::mt19937& generator) {
  std::vector<uint8_t> document(kDocumentBytes);
  for (uint8_t& b : document) b = static_cast<uint8_t>(generator());
  return document;
}

// MakeFixture issues a root -> CA -> signer chain of `kind` in the state folder `home` (root in
// LocalMachine ROOT, signer in CurrentUser MY) and signs 1 + `pairs` documents of 1 KiB, the CA
// certificate travelling in each message. Nullopt on failure (the reason on standard error).
std::optional<Fixture> MakeFixture(const std::string& home, tests::pki::KeyKind kind, int pairs) {
  const tests::Pki pki = tests::MakePki(kind);
  tests::AddToFolder(home + "/stores/LocalMachine/ROOT", pki.root);
  tests::AddToFolder(home + "/stores/CurrentUser/MY", pki.leaf);
  Fixture fixture{home + "/root.pem", home + "/changed.bin", home + "/pairs.txt", {}, {}};
  std::string rootPem = platform::Base64Encode(pki.root.Der());
  rootPem = "-----BEGIN CERTIFICATE-----\n" + rootPem + "\n-----END CERTIFICATE-----\n";
  bool written = WriteFile(fixture.rootPath, std::vector<uint8_t>(rootPem.begin(), rootPem.end()));
  std::mt19937 generator(3847);
  std::string pairsList;
  for (int i = 0; i <= pairs && written; ++i) {
    Pair pair{RandomDocument(generator),
              {},
              home + "/document-" + std::to_string(i) + ".bin",
              home + "/signature-" + std::to_string(i) + ".p7s"};
    pair.signature = tests::pki::SignDetached(pair.document, {{pki.leaf, pki.leafKey}}, {pki.ca});
    written = !pair.signature.empty() && WriteFile(pair.documentPath, pair.document) &&
              WriteFile(pair.signaturePath, pair.signature);
    if (i == 0) {
      fixture.single = std::move(pair);
      continue;
    }
    pairsList += pair.documentPath + "\t" + pair.signaturePath + "\n";
    fixture.batch.push_back(std::move(pair));
  }
  std::vector<uint8_t> changed = fixture.single.document;
  changed[kDocumentBytes / 2] ^= 1;
  if (!written || !WriteFile(fixture.changedDocumentPath, changed) ||
      !WriteFile(fixture.pairsPath, std::vector<uint8_t>(pairsList.begin(), pairsList.end()))) {
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

// Sides builds the command lines of both sides for one pass.
struct Sides {
  const Pass& pass;
  const Fixture& fixture;
  int port;

  std::vector<std::string> Client(std::vector<std::string> what) const {
    what.insert(what.begin(), {QUILMAREND_CHECK_BINARY, "--server",
                               "127.0.0.1:" + std::to_string(port), "--no-crl"});
    return what;
  }
  std::vector<std::string> Openssl(const std::string& document,
                                   const std::string& signature) const {
    std::vector<std::string> words = {"openssl", "cms", "-verify"};
    if (pass.gostEngine) words.insert(words.end(), {"-engine", "gost"});
    words.insert(words.end(),
                 {"-binary", "-inform", "DER", "-content", document, "-in", signature, "-CAfile",
                  fixture.rootPath, "-purpose", "any", "-out", "/dev/null"});
    return words;
  }
};

// MeasureSingle compares one client run with one openssl run; false on a wrong exit status.
bool MeasureSingle(const Sides& sides, int runs) {
  const Pair& pair = sides.fixture.single;
  // One good run before the clock starts fills the server's chain cache. The changed document:
  // the client's verdict is a failed check (1), openssl's any failure.
  if (Timed(sides.Client({pair.documentPath, pair.signaturePath})).first != 0 ||
      Timed(sides.Openssl(pair.documentPath, pair.signaturePath)).first != 0 ||
      Timed(sides.Client({sides.fixture.changedDocumentPath, pair.signaturePath})).first != 1 ||
      Timed(sides.Openssl(sides.fixture.changedDocumentPath, pair.signaturePath)).first == 0) {
    std::fprintf(stderr,
                 "cli_latency: %s: the document was not accepted or its change not refused\n",
                 sides.pass.label);
    return false;
  }
  std::vector<double> ours, baseline;
  for (int run = 0; run < runs; ++run) {
    const auto [clientStatus, clientMs] =
        Timed(sides.Client({pair.documentPath, pair.signaturePath}));
    const auto [opensslStatus, opensslMs] =
        Timed(sides.Openssl(pair.documentPath, pair.signaturePath));
    if (clientStatus != 0 || opensslStatus != 0) {
      std::fprintf(stderr, "cli_latency: %s: run %d: client exit %d, openssl exit %d\n",
                   sides.pass.label, run + 1, clientStatus, opensslStatus);
      return false;
    }
    ours.push_back(clientMs);
    baseline.push_back(opensslMs);
  }
  const double ratio = Median(ours) / Median(baseline);
  std::printf("CliLatency %s client %.2f ms, openssl %.2f ms (medians of %d)\n", sides.pass.label,
              Median(ours), Median(baseline), runs);
  std::printf("CliLatency %s client/openssl %.2f (target at most %.2f: %s)\n", sides.pass.label,
              ratio, kRatioTarget, Verdict(ratio <= kRatioTarget));
  return true;
}

// StreamPayload is the byte stream of the whole batch as one connection carries it: the
// settings, each pair's blocks and CHECK, and QUIT.
std::string StreamPayload(const Fixture& fixture) {
  std::string payload = "B64ON\r\nCRLOFF\r\n";
  for (const Pair& pair : fixture.batch) {
    payload += "STRS\r\n" + platform::Base64Encode(pair.document) + "\r\n.\r\nSIGN\r\n" +
               platform::Base64Encode(pair.signature) + "\r\n.\r\nCHECK\r\n";
  }
  return payload + "QUIT\r\n";
}

// StreamMs sends `payload` over one connection to `port` while it reads the answers, and returns
// the milliseconds until the server closed after QUIT; nullopt unless all `pairs` answers are
// valid.
std::optional<double> StreamMs(int port, const std::string& payload, size_t pairs) {
  const Clock::time_point start = Clock::now();
  std::optional<tests::TestClient> client = tests::TestClient::Connect(port);
  if (!client) return std::nullopt;
  std::thread writer([&] { client->Send(payload); });
  const bool closed = client->WaitClosed(120'000);
  writer.join();
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  size_t valid = 0;
  for (size_t at = 0; (at = client->Pending().find("CheckChain: OK\r\n", at)) != std::string::npos;
       ++at) {
    ++valid;
  }
  if (!closed || valid != pairs) return std::nullopt;
  return ms;
}

// MeasureBatch compares the batch with as many openssl runs and with the server's rate on one
// connection; false on a wrong exit status or answer.
bool MeasureBatch(const Sides& sides) {
  const size_t pairs = sides.fixture.batch.size();
  const std::string payload = StreamPayload(sides.fixture);
  std::vector<double> batchMs, streamMs;
  for (int run = 0; run < kBatchRuns; ++run) {
    const auto [status, ms] = Timed(sides.Client({"--batch", sides.fixture.pairsPath}));
    const std::optional<double> stream = StreamMs(sides.port, payload, pairs);
    if (status != 0 || !stream) {
      std::fprintf(stderr, "cli_latency: %s: batch exit %d, or a streamed answer not valid\n",
                   sides.pass.label, status);
      return false;
    }
    batchMs.push_back(ms);
    streamMs.push_back(*stream);
  }
  double opensslMs = 0;
  for (const Pair& pair : sides.fixture.batch) {
    const auto [status, ms] = Timed(sides.Openssl(pair.documentPath, pair.signaturePath));
    if (status != 0) {
      std::fprintf(stderr, "cli_latency: %s: openssl exit %d\n", sides.pass.label, status);
      return false;
    }
    opensslMs += ms;
  }
  const double speed = opensslMs / Median(batchMs);
  const double rate = Median(streamMs) / Median(batchMs);
  std::printf(
      "CliLatency %s batch of %zu: %.0f ms, one connection %.0f ms, openssl runs %.0f ms "
      "(batch and connection medians of %d)\n",
      sides.pass.label, pairs, Median(batchMs), Median(streamMs), opensslMs, kBatchRuns);
  std::printf("CliLatency %s batch %zu openssl-runs/batch %.1f (target at least %.1f: %s)\n",
              sides.pass.label, pairs, speed, kBatchSpeedTarget,
              Verdict(speed >= kBatchSpeedTarget));
  std::printf("CliLatency %s batch/one-connection rate %.2f (target at least %.2f: %s)\n",
              sides.pass.label, rate, kConnectionRateTarget,
              Verdict(rate >= kConnectionRateTarget));
  return true;
}

// RunPass makes the fixture of `pass` in a state folder of its own under `root`, starts the server
// binary on it and measures.
bool RunPass(const Pass& pass, const std::string& root, int runs, int pairs) {
  const std::string home = root + "/" + pass.label;
  const std::optional<Fixture> fixture = MakeFixture(home, pass.kind, pairs);
  if (!fixture) return false;
  // The child reads its state folder from the environment it inherits.
  setenv("QUILMAREND_HOME", home.c_str(), 1);
  const int port = FreePort();
  ServerProcess server(QUILMAREND_BINARY, port, home + "/server.log");
  if (!server.WaitListening(port, kNames)) return false;
  const Sides sides{pass, *fixture, port};
  const bool single = MeasureSingle(sides, runs);
  std::fflush(stdout);
  return single && MeasureBatch(sides);
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  int runs = 50, pairs = 1000;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (!bench::ReadCount(argument, "--runs=", 10000, runs) &&
        !bench::ReadCount(argument, "--pairs=", 100000, pairs)) {
      std::fprintf(stderr, "usage: cli_latency [--runs=N] [--pairs=N]\n");
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
      failed = !bench::RunPass(pass, folder.Path(), runs, pairs) || failed;
      std::fflush(stdout);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cli_latency: %s\n", e.what());
    return 1;
  }
  return failed ? 1 : 0;
}
