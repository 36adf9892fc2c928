#pragma once

// FakeInternet answers downloads from a table the test fills, without sockets: a body, a failure
// with the WinINet code the real downloader would set (after some first bytes, as a peer that
// stalls gives them), or a transfer held open until the test lets it go. It counts requests per
// URL. Answers honour the request's size limit and piece size as the real downloader does.
//
// Example:
//   tests::FakeInternet internet;
//   internet.Serve("http://ca.test/root.crl", crl);
//   internet.Fail("http://docs.test/slow.xml", platform::ERROR_INTERNET_TIMEOUT, {'<'});
//   ... code under test downloads through `internet` ...
//   EXPECT_EQ(internet.Hits("http://ca.test/root.crl"), 1);

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/os/inet.h"

namespace tests {

class FakeInternet : public platform::Internet {
 public:
  FakeInternet() = default;
  // The destructor lets held transfers go and waits until every transfer has returned.
  ~FakeInternet() override;
  FakeInternet(const FakeInternet&) = delete;
  FakeInternet& operator=(const FakeInternet&) = delete;

  // Serve answers `url` with `body`. Unknown URLs fail with ERROR_INTERNET_CANNOT_CONNECT.
  void Serve(const std::string& url, std::vector<uint8_t> body);
  // Fail makes `url` hand over `first` and then fail with `error`.
  void Fail(const std::string& url, uint32_t error, std::vector<uint8_t> first = {});
  // Hold makes `url` hand over `first` and then wait, as a silent peer does, until Release; the
  // transfer then fails with ERROR_INTERNET_TIMEOUT.
  void Hold(const std::string& url, std::vector<uint8_t> first);
  // WaitHeld waits until a transfer is being held.
  void WaitHeld();
  // Release lets every held transfer, and every later one, go.
  void Release();
  // Hits returns how many transfers `url` has had.
  int Hits(const std::string& url) const;

  bool Stream(const platform::InternetRequest& request,
              const std::function<bool(std::span<const uint8_t>)>& consume) override;

 private:
  struct Route {
    std::vector<uint8_t> body;
    uint32_t error = 0;  // 0: `body` is the whole answer
    bool hold = false;
    int hits = 0;
  };

  mutable std::mutex mutex;
  std::condition_variable changed;
  std::map<std::string, Route> routes;
  int active = 0;  // transfers inside Stream
  int held = 0;    // of them, those held
  bool released = false;
};

}  // namespace tests
