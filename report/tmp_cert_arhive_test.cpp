#include "report/tmp_cert_arhive.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace report {
namespace {

class FakeClock : public platform::Clock {
 public:
  int64_t Now() const override { return now; }
  std::atomic<int64_t> now{1000};
};

const std::vector<uint8_t> kSerialA = {0x5A, 0x01, 0x00};
const std::vector<uint8_t> kSerialB = {0x07};
const std::vector<uint8_t> kIssuerX = {0x30, 0x03, 0x31, 0x01, 0x00};
const std::vector<uint8_t> kIssuerY = {0x30, 0x03, 0x31, 0x01, 0x01};

TEST(TmpCertArhive, MissLeavesTheOutsAlone) {
  FakeClock clock;
  TmpCertArhive archive(clock);
  bool valid = true;
  uint32_t status = 77;
  EXPECT_FALSE(archive.CheckItem(kSerialA, kIssuerX, &valid, &status));
  EXPECT_TRUE(valid);
  EXPECT_EQ(status, 77u);
}

TEST(TmpCertArhive, EntryLivesSixtySecondsFromItsFirstStore) {
  FakeClock clock;
  TmpCertArhive archive(clock);
  EXPECT_FALSE(archive.StoreItem(kSerialA, kIssuerX, true, 0x20));
  clock.now += 30;
  EXPECT_TRUE(archive.StoreItem(kSerialA, kIssuerX, false, 0x80090317));  // overwrites, keeps time
  clock.now += 30;  // exactly 60 s after the first store: still there
  bool valid = true;
  uint32_t status = 0;
  EXPECT_TRUE(archive.CheckItem(kSerialA, kIssuerX, &valid, &status));
  EXPECT_FALSE(valid);
  EXPECT_EQ(status, 0x80090317u);
  clock.now += 1;
  EXPECT_FALSE(archive.CheckItem(kSerialA, kIssuerX, &valid, &status));
}

TEST(TmpCertArhive, KeyIsSerialAndIssuerTogether) {
  FakeClock clock;
  TmpCertArhive archive(clock);
  archive.StoreItem(kSerialA, kIssuerX, true, 1);
  EXPECT_FALSE(archive.StoreItem(kSerialA, kIssuerY, true, 2));  // same serial, other issuer
  bool valid = false;
  uint32_t status = 0;
  EXPECT_TRUE(archive.CheckItem(kSerialA, kIssuerY, &valid, &status));
  EXPECT_EQ(status, 2u);
  EXPECT_FALSE(archive.CheckItem(kSerialB, kIssuerX, &valid, &status));
  // A serial that is a prefix of another is a different key.
  EXPECT_FALSE(archive.CheckItem(std::vector<uint8_t>{0x5A, 0x01}, kIssuerX, &valid, &status));
}

TEST(TmpCertArhive, SearchRemovesExpiredEntriesBeforeTheMatch) {
  FakeClock clock;
  TmpCertArhive archive(clock);
  archive.StoreItem(kSerialA, kIssuerX, true, 1);
  clock.now += 30;
  archive.StoreItem(kSerialB, kIssuerX, true, 2);
  clock.now += 40;  // A is 70 s old, B 40 s
  bool valid = false;
  uint32_t status = 0;
  EXPECT_TRUE(archive.CheckItem(kSerialB, kIssuerX, &valid, &status));
  EXPECT_EQ(status, 2u);
  clock.now -= 40;  // even with the clock set back, A was removed by the walk
  EXPECT_FALSE(archive.CheckItem(kSerialA, kIssuerX, &valid, &status));
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
        bool valid = false;
        uint32_t status = 0;
        if (!archive.CheckItem(serial, kIssuerX, &valid, &status)) {
          existed += archive.StoreItem(serial, kIssuerX, true, i % 16);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (uint8_t key = 0; key < 16; ++key) {
    bool valid = false;
    uint32_t status = 99;
    EXPECT_TRUE(archive.CheckItem(std::vector<uint8_t>{key}, kIssuerX, &valid, &status));
    EXPECT_EQ(status, key);
  }
}

TEST(TmpCertArhive, LogsSafelyWhenDestroyedAtExit) {
  // Destroyed by the exit handlers, after this thread's own storage: its "del" line must still be
  // written from live memory (a sanitizer build aborts the process otherwise).
  static TmpCertArhive archive;
  bool valid = false;
  uint32_t status = 0;
  EXPECT_FALSE(archive.CheckItem(kSerialA, kIssuerX, &valid, &status));
}

}  // namespace
}  // namespace report
