// The CHECK load driver: detached GOST R 34.10-2001 signatures verified per second by the server,
// against two baselines measured in the same run, since absolute rates belong to the machine:
//  - ours: an in-process TCPServer with 100 workers and 100 client connections. Each connection
//    sends B64ON, CRLOFF, a 1 KiB document (STRS) and its detached CMS signature (SIGN) once,
//    then CHECK over and over; every answer must say "CheckSignature: OK" and "CheckChain: OK".
//    The root is in the LocalMachine ROOT store and the signer in the CurrentUser MY store of a
//    temporary state folder; a warm-up fills the chain archive before the clock starts.
//  - raw: OpenSSL's CMS_verify, without a certificate check, of the same signature over the same
//    document on 2 threads: the verification alone, on both cores.
//  - openssl: one `openssl cms -verify -noverify` process per document, two side by side, as a
//    script checks signatures without a server.
// Last, the resident memory of the server binary, run as a child process so that the clients'
// memory stays out of the figure, with 100 idle connections that have each done one CHECK.
// The lines to track (each says whether its target is met):
//   CheckLoad ours/raw 0.597 (target at least 0.85: MISSED)
//   CheckLoad ours/openssl 62.8 (target at least 5: met)
//   CheckLoad server VmRSS 22.8 MiB with 100 idle connections (target under 64 MiB: met)
// A wrong answer or a failed baseline run makes the exit status 1. The in-process server's log
// goes into a pipe that a child process drains, as a daemon's standard error goes to the journal;
// with --log=file it goes to the temporary state folder instead, unless QUILMAREND_LOG names
// another file.
//
// Example:
//   build/bench/check_load                          # 10 s per rate, 2 s of warm-up
//   build/bench/check_load --seconds=3 --only=ours  # one part: ours, raw, openssl or memory
//   build/bench/check_load --only=metrics  # ours with the metrics listener off and on
//   QUILMAREND_LOG=/dev/null build/bench/check_load --only=ours --log=file

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/load_support.h"
#include "bench/metrics_cost.h"
#include "platform/cert_store.h"
#include "server/tcp_server.h"
#include "tests/check_support.h"
#include "tests/pki/cms.h"
#include "tests/pki/handles.h"
#include "tests/pki/key.h"
#include "tests/test_client.h"

extern char** environ;

namespace bench {
namespace {

const Names kNames{"check_load", "CheckLoad"};
constexpr int kConnections = 100;
constexpr size_t kDocumentBytes = 1024;
constexpr int kRawThreads = 2;
constexpr int kOpensslProcesses = 2;
// The baselines need no archive or connection set-up; a short warm-up loads code and caches.
constexpr Seconds kBaselineWarmup{0.5};

struct Options {
  Seconds seconds{10};
  Seconds warmup{2};
  std::string only;  // empty: every part
  bool logToFile = false;

  // The metrics part runs only when asked for: it is the ours part four times over.
  bool Runs(std::string_view part) const {
    return only == part || (only.empty() && part != "metrics");
  }
};

// ParseOptions reads --seconds=N, --warmup=N, --only=PART and --log=pipe|file; nullopt on
// anything else.
std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (ReadSeconds(argument, "--seconds=", options.seconds) ||
        ReadSeconds(argument, "--warmup=", options.warmup)) {
      continue;
    }
    if (argument == "--log=pipe" || argument == "--log=file") {
      options.logToFile = argument == "--log=file";
      continue;
    }
    constexpr std::string_view kOnly = "--only=";
    const std::string_view part = argument.starts_with(kOnly) ? argument.substr(kOnly.size()) : "";
    if (part == "ours" || part == "raw" || part == "openssl" || part == "memory" ||
        part == "metrics") {
      options.only = part;
      continue;
    }
    return std::nullopt;
  }
  return options;
}

// Fixture is what every part checks: a document, its signature, and both as files for the
// openssl command; and the document with one byte changed, which each baseline must refuse once
// before it is timed, so that a baseline that verifies nothing cannot pass for a fast one.
struct Fixture {
  std::string document;
  std::string changedDocument;
  std::vector<uint8_t> signature;
  std::string documentPath;
  std::string changedDocumentPath;
  std::string signaturePath;
};

// MakeFixture issues a GOST 2001 root -> CA -> signer chain, trusts the root (LocalMachine ROOT)
// and files the signer (CurrentUser MY) in the state folder, and signs a 1 KiB document, the CA
// certificate travelling in the message. Nullopt on failure (the reason on standard error).
std::optional<Fixture> MakeFixture(const std::string& folder) {
  tests::Pki pki;
  try {
    pki = tests::MakePki(tests::pki::KeyKind::kGost2001);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "check_load: %s\n", e.what());
    return std::nullopt;
  }
  tests::AddToStore(platform::StoreLocation::kLocalMachine, "ROOT", pki.root);
  tests::AddToStore(platform::StoreLocation::kCurrentUser, "MY", pki.leaf);

  Fixture fixture;
  std::vector<uint8_t> document(kDocumentBytes);
  std::mt19937 generator(3847);
  for (uint8_t& b : document) b = static_cast<uint8_t>(generator());
  fixture.document.assign(document.begin(), document.end());
  fixture.signature = tests::pki::SignDetached(document, {{pki.leaf, pki.leafKey}}, {pki.ca});
  std::vector<uint8_t> changed = document;
  changed[kDocumentBytes / 2] ^= 1;
  fixture.changedDocument.assign(changed.begin(), changed.end());
  fixture.documentPath = folder + "/document.bin";
  fixture.changedDocumentPath = folder + "/changed.bin";
  fixture.signaturePath = folder + "/signature.p7s";
  if (fixture.signature.empty() || !WriteFile(fixture.documentPath, document) ||
      !WriteFile(fixture.changedDocumentPath, changed) ||
      !WriteFile(fixture.signaturePath, fixture.signature)) {
    std::fprintf(stderr, "check_load: cannot sign or write the fixture\n");
    return std::nullopt;
  }
  return fixture;
}

// OursWorker is one client connection: the settings and both blocks once, then CHECK after CHECK.
void OursWorker(LoadRun& run, int port, const Fixture& fixture) {
  std::optional<tests::TestClient> client;
  try {
    client.emplace(tests::CheckClient(port, fixture.document, fixture.signature, {"CRLOFF"}));
  } catch (const std::exception& e) {
    run.Fail(e.what());
  }
  CheckUntilStopped(run, client);
}

std::optional<double> MeasureOurs(const Options& options, const Fixture& fixture,
                                  const server::ServerSetup& setup = {}) {
  server::ServerStart started = server::TCPServer::Start(0, kConnections, setup);
  if (const std::string* failure = std::get_if<std::string>(&started)) {
    std::fprintf(stderr, "check_load: %s\n", failure->c_str());
    return std::nullopt;
  }
  const std::unique_ptr<server::TCPServer> server = std::move(std::get<0>(started));
  const int port = server->BoundPort();
  return RunThreads(kNames, "ours CHECKs", kConnections, options.warmup, options.seconds,
                    [&](LoadRun& run) { OursWorker(run, port, fixture); });
}

// RawVerify decodes and verifies the detached `signature` over `document` with OpenSSL alone: the
// content's digest, the signed attributes and the signature value, no certificate check.
bool RawVerify(std::span<const uint8_t> signature, std::string_view document) {
  const unsigned char* p = signature.data();
  tests::pki::CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(signature.size())));
  tests::pki::BioPtr content(BIO_new_mem_buf(document.data(), static_cast<int>(document.size())));
  const bool verified = cms && content &&
                        CMS_verify(cms.get(), nullptr, nullptr, content.get(), nullptr,
                                   CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY | CMS_DETACHED) == 1;
  ERR_clear_error();
  return verified;
}

std::optional<double> MeasureRaw(const Options& options, const Fixture& fixture) {
  if (RawVerify(fixture.signature, fixture.changedDocument)) {
    std::fprintf(stderr, "check_load: CMS_verify accepts a changed document\n");
    return std::nullopt;
  }
  return RunThreads(kNames, "raw CMS_verify", kRawThreads, kBaselineWarmup, options.seconds,
                    [&](LoadRun& run) {
                      run.Ready();
                      while (run.Running()) {
                        if (!RawVerify(fixture.signature, fixture.document)) {
                          return run.Fail("CMS_verify refused");
                        }
                        run.Done();
                      }
                    });
}

// OpensslVerify runs one `openssl cms -verify` of the fixture's signature over `documentPath`;
// true when it succeeds.
bool OpensslVerify(const Fixture& fixture, const std::string& documentPath) {
  const pid_t pid = Spawn(
      {"openssl", "cms", "-verify", "-engine", "gost", "-binary", "-inform", "DER", "-noverify",
       "-content", documentPath, "-in", fixture.signaturePath, "-out", "/dev/null"},
      environ);
  return pid > 0 && WaitExit(pid) == 0;
}

std::optional<double> MeasureOpenssl(const Options& options, const Fixture& fixture) {
  if (OpensslVerify(fixture, fixture.changedDocumentPath)) {
    std::fprintf(stderr, "check_load: openssl cms -verify accepts a changed document\n");
    return std::nullopt;
  }
  return RunThreads(kNames, "openssl processes", kOpensslProcesses, kBaselineWarmup,
                    options.seconds, [&](LoadRun& run) {
                      run.Ready();
                      while (run.Running()) {
                        if (!OpensslVerify(fixture, fixture.documentPath)) {
                          return run.Fail("`openssl cms -verify -engine gost` failed");
                        }
                        run.Done();
                      }
                    });
}

// MeasureMemory starts the server binary, opens kConnections connections that each do one CHECK
// and then stay idle, and returns the server's VmRSS in KiB at that point.
std::optional<long> MeasureMemory(const std::string& folder, const Fixture& fixture) {
  const int port = FreePort();
  ServerProcess server(QUILMAREND_BINARY, port, folder + "/memory-server.log");
  if (!server.WaitListening(port, kNames)) return std::nullopt;
  const long started = ResidentKib(server.Pid(), "VmRSS");
  std::vector<tests::TestClient> clients;
  try {
    for (int i = 0; i < kConnections; ++i) {
      clients.push_back(tests::CheckClient(port, fixture.document, fixture.signature, {"CRLOFF"}));
      const std::string answer = tests::RunCheck(clients.back());
      if (!GoodAnswer(answer)) {
        std::fprintf(stderr, "check_load: memory: unexpected answer:\n%s", answer.c_str());
        return std::nullopt;
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "check_load: memory: %s\n", e.what());
    return std::nullopt;
  }
  const long idle = ResidentKib(server.Pid(), "VmRSS");
  const long peak = ResidentKib(server.Pid(), "VmHWM");
  if (started < 0 || idle < 0) {
    std::fprintf(stderr, "check_load: cannot read /proc/%d/status\n", server.Pid());
    return std::nullopt;
  }
  std::printf("CheckLoad server VmRSS %.1f MiB at start, %.1f MiB peak\n", Mib(started), Mib(peak));
  return idle;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  const std::optional<bench::Options> options = bench::ParseOptions(argc, argv);
  if (!options) {
    std::fprintf(stderr,
                 "usage: check_load [--seconds=N] [--warmup=N] "
                 "[--only=ours|raw|openssl|memory|metrics] "
                 "[--log=pipe|file]\n");
    return 2;
  }
  // The state root and the log channel are fixed by their first use, so they are chosen before
  // anything else runs.
  const bench::StateFolder folder("quilmarend-load");
  if (!bench::UseAsHome(folder, bench::kNames)) return 1;
  if (options->logToFile) {
    setenv("QUILMAREND_LOG", (folder.Path() + "/server.log").c_str(), 0);
  } else if (!bench::LogIntoDrainedPipe(bench::kNames)) {
    return 1;
  }

  const std::optional<bench::Fixture> fixture = bench::MakeFixture(folder.Path());
  if (!fixture) return 1;
  bool failed = false;
  std::optional<double> raw, ours, openssl;
  std::optional<long> memory;
  if (options->Runs("raw")) {
    raw = bench::MeasureRaw(*options, *fixture);
    failed = failed || !raw;
  }
  if (options->Runs("ours")) {
    ours = bench::MeasureOurs(*options, *fixture);
    failed = failed || !ours;
  }
  if (options->Runs("openssl")) {
    openssl = bench::MeasureOpenssl(*options, *fixture);
    failed = failed || !openssl;
  }
  if (options->Runs("memory")) {
    memory = bench::MeasureMemory(folder.Path(), *fixture);
    failed = failed || !memory;
  }
  if (options->Runs("metrics")) {
    failed = !bench::CompareMetricsCost([&](const server::ServerSetup& setup) {
      return bench::MeasureOurs(*options, *fixture, setup);
    }) || failed;
  }

  if (ours) {
    std::printf("CheckLoad ours %.0f CHECKs/s over %d connections, every answer OK\n", *ours,
                bench::kConnections);
  }
  if (raw)
    std::printf("CheckLoad raw %.0f verifications/s on %d threads\n", *raw, bench::kRawThreads);
  if (openssl) {
    std::printf("CheckLoad openssl %.1f verifications/s in %d processes side by side\n", *openssl,
                bench::kOpensslProcesses);
  }
  if (ours && raw && *raw > 0) {
    std::printf("CheckLoad ours/raw %.3f (target at least 0.85: %s)\n", *ours / *raw,
                bench::Verdict(*ours / *raw >= 0.85));
  }
  if (ours && openssl && *openssl > 0) {
    std::printf("CheckLoad ours/openssl %.1f (target at least 5: %s)\n", *ours / *openssl,
                bench::Verdict(*ours / *openssl >= 5));
  }
  if (memory) {
    std::printf(
        "CheckLoad server VmRSS %.1f MiB with %d idle connections (target under 64 MiB: %s)\n",
        bench::Mib(*memory), bench::kConnections, bench::Verdict(*memory < 64 * 1024));
  }
  return failed ? 1 : 0;
}
