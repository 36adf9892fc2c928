#include "verify/tmp_cert_arhive.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/fakes/fake_clock.h"

namespace verify {
namespace {

using tests::FakeClock;

const std::vector<uint8_t> kSerialA = {0x5A, 0x01, 0x00};
const std::vector<uint8_t> kSerialB = {0x07};
const std::vector<uint8_t> kIssuerX = {0x30, 0x03, 0x31, 0x01, 0x00};
const std::vector<uint8_t> kIssuerY = {0x30, 0x03, 0x31, 0x01, 0x01};

TEST(TmpCertArhive, EntryLivesItsLifetimeFromItsFirstStore) {
  FakeClock clock;
  TmpCertArhive archive(clock);
  EXPECT_EQ(archive.CheckItem(kSerialA, kIssuerX), std::nullopt);
  EXPECT_FALSE(archive.StoreItem(kSerialA, kIssuerX, Verdict::Passed(0x20)));
  clock.now += 30;
  // Overwrites, keeping the time of the first store.
  EXPECT_TRUE(archive.StoreItem(kSerialA, kIssuerX, Verdict::Failed(0x80090317)));
  clock.now += 30;  // exactly 60 s after the first store: still there
  EXPECT_EQ(archive.CheckItem(kSerialA, kIssuerX), Verdict::Failed(0x80090317));
  clock.now += 1;
  EXPECT_EQ(archive.CheckItem(kSerialA, kIssuerX), std::nullopt);

  TmpCertArhive shortLived(clock, 5);
  shortLived.StoreItem(kSerialA, kIssuerX, Verdict::Passed());
  clock.now += 6;
  EXPECT_EQ(shortLived.CheckItem(kSerialA, kIssuerX), std::nullopt);
}

TEST(TmpCertArhive, KeyIsSerialAndIssuerTogether) {
  FakeClock clock;
  TmpCertArhive archive(clock);
  archive.StoreItem(kSerialA, kIssuerX, Verdict::Passed(1));
  EXPECT_FALSE(archive.StoreItem(kSerialA, kIssuerY, Verdict::Passed(2)));  // other issuer
  EXPECT_EQ(archive.CheckItem(kSerialA, kIssuerY), Verdict::Passed(2));
  EXPECT_EQ(archive.CheckItem(kSerialB, kIssuerX), std::nullopt);
  // A serial that is a prefix of another is a different key.
  EXPECT_EQ(archive.CheckItem(std::vector<uint8_t>{0x5A, 0x01}, kIssuerX), std::nullopt);
}

TEST(TmpCertArhive, SearchRemovesExpiredEntriesBeforeTheMatch) {
  FakeClock clock;
  TmpCertArhive archive(clock);
  archive.StoreItem(kSerialA, kIssuerX, Verdict::Passed(1));
  clock.now += 30;
  archive.StoreItem(kSerialB, kIssuerX, Verdict::Passed(2));
  clock.now += 40;  // A is 70 s old, B 40 s
  EXPECT_EQ(archive.CheckItem(kSerialB, kIssuerX), Verdict::Passed(2));
  clock.now -= 40;  // even with the clock set back, A was removed by the walk
  EXPECT_EQ(archive.CheckItem(kSerialA, kIssuerX), std::nullopt);
}

TEST(TmpCertArhive, ConcurrentStoresAndChecksKeepOneEntryPerKey) {
  FakeClock clock;
  TmpCertArhive archive(clock);
  std::vector<std::thread> threads;
  std::atomic<int> existed{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        const std::vector<uint8_t> serial = {static_cast<uint8_t>(i % 16)};
        if (!archive.CheckItem(serial, kIssuerX)) {
          existed += archive.StoreItem(serial, kIssuerX, Verdict::Passed(i % 16));
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (uint8_t key = 0; key < 16; ++key) {
    EXPECT_EQ(archive.CheckItem(std::vector<uint8_t>{key}, kIssuerX), Verdict::Passed(key));
  }
}

TEST(TmpCertArhive, LogsSafelyWhenDestroyedAtExit) {
  // Destroyed by the exit handlers, after this thread's own storage: its "del" line must still be
  // written from live memory (a sanitizer build aborts the process otherwise).
  static TmpCertArhive archive;
  EXPECT_EQ(archive.CheckItem(kSerialA, kIssuerX), std::nullopt);
}

}  // namespace
}  // namespace verify
