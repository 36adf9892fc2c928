// The CHECK load driver: detached GOST R 34.10-2001 signatures verified per second by the server,
// against baselines measured in the same run, since absolute rates belong to the machine:
//  - ours: the server binary as a child process with 100 workers, its log on standard error
//    going into a pipe that another process drains, as under systemd, measured twice: with the
//    log at `info` (what the service's settings set) and at `debug` (every line). 100 client
//    connections each send B64ON, CRLOFF, a 1 KiB document (STRS) and its detached CMS signature
//    (SIGN) once, then CHECK over and over; every answer must say "CheckSignature: OK" and
//    "CheckChain: OK", and a changed document must fail first. The root is in the LocalMachine
//    ROOT store and the signer in the CurrentUser MY store of a temporary state folder; a warm-up
//    fills the chain archive before the clock starts. Beside each rate, the CPU one CHECK cost in
//    the server, in the log's reader and in the clients (this process).
//  - raw: OpenSSL's CMS_verify, without a certificate check, of the same signature over the same
//    document on 2 threads: the verification alone, on both cores.
//  - openssl: one `openssl cms -verify -noverify` process per document, two side by side, as a
//    script checks signatures without a server.
//  - memory: the server's resident memory with 100 idle connections that have each done one
//    CHECK, after a certificate cache filled with more signers than it holds.
//  - signers (--signers=N): N distinct signers under one CA, every CHECK sending the next one's
//    signature (SIGN, then CHECK); each connection checks its share of them once before the clock
//    starts. With --compare-cache the same run again with the server's certificate cache switched
//    off (QUILMAREND_CERT_CACHE=0): the ratio shows what a cache that misses costs.
//  - metrics (--only=metrics): ours at info four times, the metrics listener off, on, on and off,
//    scraped every second while on.
//  - http (--only=http) and http-idle (--only=http-idle): the HTTP/JSON front against the line
//    protocol on the same server binary, and the line protocol with the front on but idle
//    (bench/http_load.h).
//  - latency (--latency): p50 and p99 of a CHECK's round trip, and of a client's wait from its
//    connect to its first answer, at 10, 100 and 1000 clients; each client checks 10 times per
//    connection, then connects again, so that beyond 100 the clients queue for a worker.
// --server=PATH measures another build of the server (an older one, to compare).
// The lines to track (each says whether its target is met):
//   CheckLoad ours/raw at info 0.85 (target at least 0.85: met)
//   CheckLoad ours/raw at debug 0.80 (target at least 0.80: met)
//   CheckLoad ours/openssl 62.8 (target at least 5: met)
//   CheckLoad server VmRSS 22.8 MiB with 100 idle connections (target under 64 MiB: met)
//   CheckLoad signers 10000 cache on/off 0.99 (target at least 0.95: met)
//   CheckLoad http/line 0.93 (target at least 0.80: met)
//   CheckLoad http idle on/off 0.99 (target at least 0.98: met)
// A wrong answer or a failed baseline run makes the exit status 1. With --log=file the server's
// log goes to the temporary state folder instead of the pipe.
//
// Example:
//   build/bench/check_load                          # 10 s per rate, 2 s of warm-up
//   build/bench/check_load --seconds=3 --only=ours  # one part: ours, raw, openssl, memory,
//                                                   # signers, latency or metrics (--only may
//                                                   # be given again for another part)
//   build/bench/check_load --only=signers --signers=10000 --compare-cache
//   build/bench/check_load --only=ours --server=/tmp/old/quilmarend
//   build/bench/check_load --only=metrics  # ours at info with the metrics listener off and on

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "bench/http_load.h"
#include "bench/load_support.h"
#include "bench/metrics_cost.h"
#include "platform/crypto/cert_store.h"
#include "tests/check_support.h"
#include "tests/pki/cms.h"
#include "tests/pki/handles.h"
#include "tests/pki/key.h"
#include "tests/pki/trust.h"
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
// More signers than the server's certificate cache holds by default, to fill it.
constexpr int kCacheFillingSigners = 1100;
constexpr int kChecksPerConnection = 10;  // in the latency part
constexpr int kLatencyClients[] = {10, 100, 1000};

struct Options {
  Seconds seconds{10};
  Seconds warmup{2};
  // The parts --only named (it may be given more than once); none: ours, raw, openssl and memory,
  // and what the flags below ask for.
  std::vector<std::string> only;
  bool logToFile = false;
  std::string server = QUILMAREND_BINARY;
  int signers = 0;  // 0: no signers part
  bool compareCache = false;
  bool latency = false;

  bool Runs(std::string_view part) const {
    const bool named = std::find(only.begin(), only.end(), part) != only.end();
    if (part == "signers") return named || (only.empty() && signers > 0);
    if (part == "latency") return named || (only.empty() && latency);
    if (part == "metrics" || part == "http" || part == "http-idle") return named;
    return only.empty() || named;
  }
};

// ParseOptions reads --seconds=N, --warmup=N, --only=PART, --log=pipe|file, --server=PATH,
// --signers=N, --compare-cache and --latency; nullopt on anything else.
std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (ReadSeconds(argument, "--seconds=", options.seconds) ||
        ReadSeconds(argument, "--warmup=", options.warmup) ||
        ReadCount(argument, "--signers=", 1000000, options.signers)) {
      continue;
    }
    if (argument == "--log=pipe" || argument == "--log=file") {
      options.logToFile = argument == "--log=file";
    } else if (argument.starts_with("--server=") && argument.size() > 9) {
      options.server = argument.substr(9);
    } else if (argument == "--compare-cache") {
      options.compareCache = true;
    } else if (argument == "--latency") {
      options.latency = true;
    } else {
      constexpr std::string_view kOnly = "--only=";
      const std::string_view part =
          argument.starts_with(kOnly) ? argument.substr(kOnly.size()) : "";
      constexpr std::string_view kParts[] = {"ours",    "raw",     "openssl", "memory",   "signers",
                                             "latency", "metrics", "http",    "http-idle"};
      if (std::find(std::begin(kParts), std::end(kParts), part) == std::end(kParts)) {
        return std::nullopt;
      }
      options.only.emplace_back(part);
    }
  }
  if (options.Runs("signers") && options.signers == 0) options.signers = 100;
  return options;
}

// Fixture is what every part checks: a document, its signature, and both as files for the
// openssl command; and the document with one byte changed, which each baseline must refuse once
// before it is timed, so that a baseline that verifies nothing cannot pass for a fast one.
struct Fixture {
  tests::Pki pki;
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
  Fixture fixture;
  try {
    fixture.pki = tests::MakePki(tests::pki::KeyKind::kGost2001);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "check_load: %s\n", e.what());
    return std::nullopt;
  }
  const tests::Pki& pki = fixture.pki;
  tests::AddToStore(platform::StoreLocation::kLocalMachine, "ROOT", pki.root);
  tests::AddToStore(platform::StoreLocation::kCurrentUser, "MY", pki.leaf);

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

// MakeSigners issues `count` signer certificates under the fixture's CA (one key, each its own
// name and serial number), files them all in one PEM file of the CurrentUser MY store, and
// returns each one's signature over the fixture's document; empty on failure.
std::vector<std::vector<uint8_t>> MakeSigners(const Fixture& fixture, int count) {
  const std::string path = platform::StoreFolder(platform::StoreLocation::kCurrentUser, "MY") +
                           "/signers-" + std::to_string(count) + ".pem";
  tests::pki::BioPtr file(BIO_new_file(path.c_str(), "w"));
  if (!file) return {};
  const std::vector<uint8_t> document(fixture.document.begin(), fixture.document.end());
  std::vector<std::vector<uint8_t>> signatures;
  for (int i = 0; i < count; ++i) {
    tests::pki::CertSpec certSpec = tests::LeafSpec();
    certSpec.subject.back().value = "Signer " + std::to_string(i);
    certSpec.serial = {0x10, static_cast<uint8_t>(count >> 16), static_cast<uint8_t>(i >> 16),
                       static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
    const tests::pki::Cert cert =
        tests::pki::Issue(certSpec, fixture.pki.leafKey, &fixture.pki.ca, fixture.pki.caKey);
    if (!cert || PEM_write_bio_X509(file.get(), cert.get()) != 1) return {};
    signatures.push_back(
        tests::pki::SignDetached(document, {{cert, fixture.pki.leafKey}}, {fixture.pki.ca}));
    if (signatures.back().empty()) return {};
  }
  return signatures;
}

// FailsChangedDocument is true when the server at `port` answers "CheckSignature: FAIL" for the
// changed document.
bool FailsChangedDocument(int port, const Fixture& fixture) {
  try {
    tests::TestClient client =
        tests::CheckClient(port, fixture.changedDocument, fixture.signature, {"CRLOFF"});
    if (tests::AnswerLine(tests::RunCheck(client), "CheckSignature") == "FAIL") return true;
  } catch (const std::exception&) {
  }
  std::fprintf(stderr, "check_load: the server does not fail a changed document\n");
  return false;
}

// Served is the server as a part runs it: the binary asked for, the log level, the log into the
// pipe (or a file in the state folder), and `more` settings.
ServerLaunch Served(const Options& options, const std::string& folder, const std::string& level,
                    std::vector<std::string> more = {}) {
  ServerLaunch serverLaunch{options.server, std::move(more), ""};
  serverLaunch.settings.push_back("QUILMAREND_LOG_LEVEL=" + level);
  if (options.logToFile) serverLaunch.logPath = folder + "/server-" + level + ".log";
  return serverLaunch;
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

std::optional<ServedRate> MeasureOurs(const Options& options, const std::string& folder,
                                      const Fixture& fixture, const std::string& level,
                                      const std::vector<std::string>& more = {}) {
  const std::string part = "ours at " + level;
  std::optional<ServedRate> served = RunAgainst(
      kNames, part.c_str(), Served(options, folder, level, more), kConnections, options.warmup,
      options.seconds, [&](LoadRun& run, int port) { OursWorker(run, port, fixture); },
      [&](int port) { return FailsChangedDocument(port, fixture); });
  if (served) PrintCpuSplit(kNames, part, served->perStep);
  return served;
}

// SignersWorker is connection `index` of `connections`: it checks its share of `signatures` once,
// then sends them in turn, each followed by CHECK, counting every good answer.
void SignersWorker(LoadRun& run, int port, const Fixture& fixture,
                   const std::vector<std::vector<uint8_t>>& signatures, int index,
                   int connections) {
  std::optional<tests::TestClient> client;
  std::vector<std::string> blocks;
  for (size_t i = index; i < signatures.size(); i += connections) {
    blocks.push_back(tests::Base64Lines(signatures[i]));
  }
  if (blocks.empty()) blocks.push_back(tests::Base64Lines(signatures[index % signatures.size()]));
  std::string answer;
  auto checkNext = [&, next = size_t{0}]() mutable {
    client->SendBlock("SIGN", blocks[next++ % blocks.size()]);
    answer = tests::RunCheck(*client);
    return GoodAnswer(answer);
  };
  try {
    client.emplace(tests::CheckClient(port, fixture.document, fixture.signature, {"CRLOFF"}));
    for (size_t i = 0; i < blocks.size(); ++i) {
      if (!checkNext())
        throw std::runtime_error("a signer failed before the clock started:\n" + answer);
    }
  } catch (const std::exception& e) {
    run.Fail(e.what());
    client.reset();
  }
  run.Ready();
  while (client && run.Running()) {
    if (!checkNext()) return run.Fail("unexpected answer for a rotated signer:\n" + answer);
    run.Done();
  }
}

std::optional<ServedRate> MeasureSigners(const Options& options, const std::string& folder,
                                         const Fixture& fixture,
                                         const std::vector<std::vector<uint8_t>>& signatures,
                                         bool cacheOff) {
  const std::string part =
      "signers " + std::to_string(signatures.size()) + " cache " + (cacheOff ? "off" : "on");
  std::vector<std::string> more;
  if (cacheOff) more.push_back("QUILMAREND_CERT_CACHE=0");
  std::atomic<int> next{0};
  std::optional<ServedRate> served =
      RunAgainst(kNames, part.c_str(), Served(options, folder, "info", more), kConnections,
                 Seconds(0.5), options.seconds, [&](LoadRun& run, int port) {
                   SignersWorker(run, port, fixture, signatures, next++, kConnections);
                 });
  if (!served) return std::nullopt;
  PrintCpuSplit(kNames, part, served->perStep);
  std::printf("CheckLoad %s: %.0f CHECKs/s, server VmRSS %.1f MiB\n", part.c_str(), served->rate,
              Mib(served->serverRssKib));
  return served;
}

// MeasureLatency runs `clients` clients for the measured time, each checking kChecksPerConnection
// times per connection, and prints the quantiles of a CHECK's round trip and of the wait from a
// connect to its first answer.
bool MeasureLatency(const Options& options, const std::string& folder, const Fixture& fixture,
                    int clients) {
  const int port = FreePort();
  ServerProcess server(Served(options, folder, "info"), port);
  if (!server.WaitListening(port, kNames)) return false;
  std::mutex samplesLock;
  std::vector<double> roundTrips, firstAnswers;
  std::atomic<bool> stop{false}, failed{false};
  const Clock::time_point countFrom =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(options.warmup);
  auto millisecondsSince = [](Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  };
  auto client = [&] {
    std::vector<double> trips, firsts;
    while (!stop && !failed) {
      const Clock::time_point connected = Clock::now();
      std::optional<tests::TestClient> session;
      try {
        session.emplace(tests::CheckClient(port, fixture.document, fixture.signature, {"CRLOFF"}));
      } catch (const std::exception&) {
        failed = true;
        break;
      }
      for (int i = 0; i < kChecksPerConnection && !stop; ++i) {
        const Clock::time_point sent = Clock::now();
        if (!GoodAnswer(tests::RunCheck(*session))) failed = true;
        if (sent < countFrom) continue;
        trips.push_back(millisecondsSince(sent));
        if (i == 0) firsts.push_back(millisecondsSince(connected));
      }
      session->Send("QUIT\r\n");
    }
    std::lock_guard<std::mutex> guard(samplesLock);
    roundTrips.insert(roundTrips.end(), trips.begin(), trips.end());
    firstAnswers.insert(firstAnswers.end(), firsts.begin(), firsts.end());
  };
  {
    std::vector<std::jthread> threads;
    for (int i = 0; i < clients; ++i) threads.emplace_back(client);
    std::this_thread::sleep_until(countFrom +
                                  std::chrono::duration_cast<Clock::duration>(options.seconds));
    stop = true;
  }
  if (failed || roundTrips.empty()) {
    std::fprintf(stderr, "check_load: latency at %d clients: a CHECK failed\n", clients);
    return false;
  }
  std::printf(
      "CheckLoad latency at %d clients: CHECK p50 %.1f ms, p99 %.1f ms; connect to first answer "
      "p50 %.1f ms, p99 %.1f ms (%zu CHECKs)\n",
      clients, Percentile(roundTrips, 0.5), Percentile(roundTrips, 0.99),
      Percentile(firstAnswers, 0.5), Percentile(firstAnswers, 0.99), roundTrips.size());
  return true;
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

// MeasureMemory starts the server, fills its certificate cache by checking more distinct signers
// than it holds, opens kConnections connections that each do one CHECK and then stay idle, and
// returns the server's VmRSS in KiB at that point.
std::optional<long> MeasureMemory(const Options& options, const std::string& folder,
                                  const Fixture& fixture,
                                  const std::vector<std::vector<uint8_t>>& signers) {
  const int port = FreePort();
  ServerProcess server(Served(options, folder, "info"), port);
  if (!server.WaitListening(port, kNames)) return std::nullopt;
  const long started = ResidentKib(server.Pid(), "VmRSS");
  std::vector<tests::TestClient> clients;
  try {
    tests::TestClient filler =
        tests::CheckClient(port, fixture.document, fixture.signature, {"CRLOFF"});
    for (const std::vector<uint8_t>& signature : signers) {
      filler.SendBlock("SIGN", tests::Base64Lines(signature));
      if (!GoodAnswer(tests::RunCheck(filler))) throw std::runtime_error("a signer failed");
    }
    for (int i = 0; i < kConnections; ++i) {
      clients.push_back(tests::CheckClient(port, fixture.document, fixture.signature, {"CRLOFF"}));
      const std::string answer = tests::RunCheck(clients.back());
      if (!GoodAnswer(answer)) throw std::runtime_error("unexpected answer:\n" + answer);
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
  std::printf("CheckLoad server VmRSS %.1f MiB at start, %.1f MiB peak, after %zu signers\n",
              Mib(started), Mib(peak), signers.size());
  return idle;
}

// Ratio prints "<label> <what> <ratio> (target at least <target>: met|MISSED)".
void Ratio(const char* what, double ours, double base, double target) {
  if (base <= 0) return;
  std::printf("CheckLoad %s %.3f (target at least %.2f: %s)\n", what, ours / base, target,
              Verdict(ours / base >= target));
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  using namespace bench;
  const std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) {
    std::fprintf(stderr,
                 "usage: check_load [--seconds=N] [--warmup=N] "
                 "[--only=ours|raw|openssl|memory|signers|latency|metrics|http|http-idle] "
                 "[--log=pipe|file] "
                 "[--server=PATH] [--signers=N [--compare-cache]] [--latency]\n");
    return 2;
  }
  // The state root is fixed by its first use, so it is chosen before anything else runs.
  const StateFolder folder("quilmarend-load");
  if (!UseAsHome(folder, kNames)) return 1;

  const std::optional<Fixture> fixture = MakeFixture(folder.Path());
  if (!fixture) return 1;
  bool failed = false;
  auto signersOf = [&](int count) {
    std::vector<std::vector<uint8_t>> signatures = MakeSigners(*fixture, count);
    if (signatures.empty()) std::fprintf(stderr, "check_load: cannot issue %d signers\n", count);
    failed = failed || signatures.empty();
    return signatures;
  };
  std::optional<double> raw, openssl;
  std::optional<ServedRate> info, debug;
  if (options->Runs("raw")) {
    raw = MeasureRaw(*options, *fixture);
    failed = failed || !raw;
  }
  if (options->Runs("ours")) {
    info = MeasureOurs(*options, folder.Path(), *fixture, "info");
    debug = MeasureOurs(*options, folder.Path(), *fixture, "debug");
    failed = failed || !info || !debug;
  }
  if (options->Runs("openssl")) {
    openssl = MeasureOpenssl(*options, *fixture);
    failed = failed || !openssl;
  }
  if (options->Runs("signers")) {
    const std::vector<std::vector<uint8_t>> signatures = signersOf(options->signers);
    std::optional<ServedRate> on, off;
    if (!signatures.empty()) {
      on = MeasureSigners(*options, folder.Path(), *fixture, signatures, false);
      if (options->compareCache)
        off = MeasureSigners(*options, folder.Path(), *fixture, signatures, true);
      failed = failed || !on || (options->compareCache && !off);
    }
    if (on && off) {
      const std::string what = "signers " + std::to_string(options->signers) + " cache on/off";
      Ratio(what.c_str(), on->rate, off->rate, 0.95);
    }
  }
  if (options->Runs("latency")) {
    for (const int clients : kLatencyClients) {
      failed = !MeasureLatency(*options, folder.Path(), *fixture, clients) || failed;
    }
  }
  // The CHECK rate of ours at info with more settings, for the parts that compare settings.
  const auto oursAtInfo = [&](const std::vector<std::string>& settings) {
    const std::optional<ServedRate> served =
        MeasureOurs(*options, folder.Path(), *fixture, "info", settings);
    return served ? std::optional(served->rate) : std::nullopt;
  };
  if (options->Runs("metrics")) failed = !CompareMetricsCost(oursAtInfo) || failed;
  if (options->Runs("http")) {
    failed = !CompareHttpToLine(kNames, Served(*options, folder.Path(), "info"), kConnections,
                                options->warmup, options->seconds, fixture->document,
                                fixture->signature) ||
             failed;
  }
  if (options->Runs("http-idle")) failed = !CompareHttpIdleCost(oursAtInfo) || failed;
  std::optional<long> memory;
  if (options->Runs("memory")) {
    const std::vector<std::vector<uint8_t>> signatures = signersOf(kCacheFillingSigners);
    if (!signatures.empty()) memory = MeasureMemory(*options, folder.Path(), *fixture, signatures);
    failed = failed || !memory;
  }

  for (const auto& [level, served] : {std::pair{"info", info}, std::pair{"debug", debug}}) {
    if (!served) continue;
    std::printf("CheckLoad ours at %s %.0f CHECKs/s over %d connections, every answer OK\n", level,
                served->rate, kConnections);
  }
  if (raw) std::printf("CheckLoad raw %.0f verifications/s on %d threads\n", *raw, kRawThreads);
  if (openssl) {
    std::printf("CheckLoad openssl %.1f verifications/s in %d processes side by side\n", *openssl,
                kOpensslProcesses);
  }
  if (info && raw) Ratio("ours/raw at info", info->rate, *raw, 0.85);
  if (debug && raw) Ratio("ours/raw at debug", debug->rate, *raw, 0.80);
  if (info && openssl) {
    std::printf("CheckLoad ours/openssl %.1f (target at least 5: %s)\n", info->rate / *openssl,
                Verdict(info->rate / *openssl >= 5));
  }
  if (memory) {
    std::printf(
        "CheckLoad server VmRSS %.1f MiB with %d idle connections and a full certificate "
        "cache (target under 64 MiB: %s)\n",
        Mib(*memory), kConnections, Verdict(*memory < 64 * 1024));
  }
  return failed ? 1 : 0;
}
