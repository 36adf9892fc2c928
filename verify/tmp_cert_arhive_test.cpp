#include "verify/tmp_cert_arhive.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/fakes/fake_clock.h"
#include "tests/pki/cert.h"

namespace verify {
namespace {

using tests::FakeClock;

ArchiveKey KeyOf(uint8_t byte) {
  ArchiveKey key{};
  key.fill(byte);
  return key;
}

const ArchiveKey kKeyA = KeyOf(0xA), kKeyB = KeyOf(0xB);

TEST(TmpCertArhive, EntryLivesItsLifetimeFromItsFirstStore) {
  FakeClock clock;
  TmpCertArhive archive(clock);
  EXPECT_EQ(archive.CheckItem(kKeyA), std::nullopt);
  EXPECT_FALSE(archive.StoreItem(kKeyA, Verdict::Passed(0x20)));
  clock.now += 30;
  // Overwrites, keeping the time of the first store.
  EXPECT_TRUE(archive.StoreItem(kKeyA, Verdict::Failed(0x80090317)));
  clock.now += 30;  // exactly 60 s after the first store: still there
  EXPECT_EQ(archive.CheckItem(kKeyA), Verdict::Failed(0x80090317));
  clock.now += 1;
  EXPECT_EQ(archive.CheckItem(kKeyA), std::nullopt);

  TmpCertArhive shortLived(clock, 5);
  shortLived.StoreItem(kKeyA, Verdict::Passed());
  clock.now += 6;
  EXPECT_EQ(shortLived.CheckItem(kKeyA), std::nullopt);
}

TEST(TmpCertArhive, KeepsAtMostItsEntriesTheOldestGoingFirst) {
  FakeClock clock;
  TmpCertArhive archive(clock, 60, 3);
  for (uint8_t key = 1; key <= 5; ++key) archive.StoreItem(KeyOf(key), Verdict::Passed(key));
  EXPECT_EQ(archive.CheckItem(KeyOf(1)), std::nullopt);
  EXPECT_EQ(archive.CheckItem(KeyOf(2)), std::nullopt);
  for (uint8_t key = 3; key <= 5; ++key)
    EXPECT_EQ(archive.CheckItem(KeyOf(key)), Verdict::Passed(key));
}

// The key is the whole question: another certificate with the same issuer and serial number,
// other travelling certificates or another option is another entry.
TEST(TmpCertArhive, KeyChangesWithEveryPartOfTheQuestion) {
  const tests::pki::Key key = tests::pki::CachedKey(tests::pki::KeyKind::kEcdsaP256, 0);
  const tests::pki::Key otherKey = tests::pki::CachedKey(tests::pki::KeyKind::kEcdsaP256, 1);
  tests::pki::CertSpec certSpec;
  certSpec.subject = {{"CN", "Signer"}};
  const auto context = [](const tests::pki::Cert& cert) {
    return platform::CertContext::Create(cert.Der());
  };
  const platform::CertContextPtr signer = context(tests::pki::Issue(certSpec, key, nullptr, key));
  const platform::CertContextPtr forged =
      context(tests::pki::Issue(certSpec, otherKey, nullptr, otherKey));
  certSpec.subject = {{"CN", "CA"}};
  const platform::CertContextPtr ca = context(tests::pki::Issue(certSpec, key, nullptr, key));
  const platform::CertContextPtr travelling = signer->Duplicate();
  travelling->SetCompanions(std::make_shared<platform::CertCollection>(
      platform::CertCollection{ca->Duplicate(), signer->Duplicate()}));
  const platform::CertContextPtr reordered = signer->Duplicate();
  reordered->SetCompanions(std::make_shared<platform::CertCollection>(
      platform::CertCollection{signer->Duplicate(), ca->Duplicate()}));

  const ArchiveKey plain = ChainQuestion{*signer}.Key();
  EXPECT_EQ(ChainQuestion{*signer->Duplicate()}.Key(), plain);
  EXPECT_EQ((ChainQuestion{*signer, 0, false, -7}.Key()), plain);  // every negative: no period
  EXPECT_EQ((ChainQuestion{*travelling}.Key()), (ChainQuestion{*reordered}.Key()));
  const ArchiveKey kOthers[] = {
      ChainQuestion{*forged}.Key(),
      ChainQuestion{*travelling}.Key(),
      ChainQuestion{*signer, 126334944000000000}.Key(),
      ChainQuestion{*signer, 0, true}.Key(),
      ChainQuestion{*signer, 0, false, 0}.Key(),
      ChainQuestion{*signer, 0, false, -1, "1.2.3"}.Key(),
  };
  for (size_t i = 0; i < std::size(kOthers); ++i) {
    SCOPED_TRACE(i);
    EXPECT_NE(kOthers[i], plain);
    for (size_t j = 0; j < i; ++j) EXPECT_NE(kOthers[i], kOthers[j]);
  }
}

TEST(TmpCertArhive, SearchRemovesExpiredEntriesBeforeTheMatch) {
  FakeClock clock;
  TmpCertArhive archive(clock);
  archive.StoreItem(kKeyA, Verdict::Passed(1));
  clock.now += 30;
  archive.StoreItem(kKeyB, Verdict::Passed(2));
  clock.now += 40;  // A is 70 s old, B 40 s
  EXPECT_EQ(archive.CheckItem(kKeyB), Verdict::Passed(2));
  clock.now -= 40;  // even with the clock set back, A was removed by the walk
  EXPECT_EQ(archive.CheckItem(kKeyA), std::nullopt);
}

TEST(TmpCertArhive, ConcurrentStoresAndChecksKeepOneEntryPerKey) {
  FakeClock clock;
  TmpCertArhive archive(clock);
  std::vector<std::thread> threads;
  std::atomic<int> existed{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        const ArchiveKey key = KeyOf(static_cast<uint8_t>(i % 16));
        if (!archive.CheckItem(key)) existed += archive.StoreItem(key, Verdict::Passed(i % 16));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (uint8_t key = 0; key < 16; ++key) {
    EXPECT_EQ(archive.CheckItem(KeyOf(key)), Verdict::Passed(key));
  }
}

TEST(TmpCertArhive, LogsSafelyWhenDestroyedAtExit) {
  // Destroyed by the exit handlers, after this thread's own storage: its "del" line must still be
  // written from live memory (a sanitizer build aborts the process otherwise).
  static TmpCertArhive archive;
  EXPECT_EQ(archive.CheckItem(kKeyA), std::nullopt);
}

}  // namespace
}  // namespace verify
