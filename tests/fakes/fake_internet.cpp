#include "tests/fakes/fake_internet.h"

#include <algorithm>

#include "platform/base/last_error.h"
#include "platform/base/win_status.h"

namespace tests {

FakeInternet::~FakeInternet() {
  Release();
  std::unique_lock lock(mutex);
  changed.wait(lock, [this] { return active == 0; });
}

void FakeInternet::Serve(const std::string& url, std::vector<uint8_t> body) {
  const std::lock_guard lock(mutex);
  Route& route = routes[url];
  route.body = std::move(body);
  route.error = 0;
  route.hold = false;
}

void FakeInternet::Fail(const std::string& url, uint32_t error, std::vector<uint8_t> first) {
  const std::lock_guard lock(mutex);
  Route& route = routes[url];
  route.body = std::move(first);
  route.error = error;
  route.hold = false;
}

void FakeInternet::Hold(const std::string& url, std::vector<uint8_t> first) {
  Fail(url, platform::ERROR_INTERNET_TIMEOUT, std::move(first));
  const std::lock_guard lock(mutex);
  routes[url].hold = true;
}

void FakeInternet::WaitHeld() {
  std::unique_lock lock(mutex);
  changed.wait(lock, [this] { return held > 0; });
}

void FakeInternet::Release() {
  const std::lock_guard lock(mutex);
  released = true;
  changed.notify_all();
}

int FakeInternet::Hits(const std::string& url) const {
  const std::lock_guard lock(mutex);
  const auto found = routes.find(url);
  return found == routes.end() ? 0 : found->second.hits;
}

bool FakeInternet::Stream(const platform::InternetRequest& request,
                          const std::function<bool(std::span<const uint8_t>)>& consume) {
  Route route;
  {
    const std::lock_guard lock(mutex);
    const auto found = routes.find(request.url);
    if (found == routes.end()) {
      platform::SetLastError(platform::ERROR_INTERNET_CANNOT_CONNECT);
      return false;
    }
    ++found->second.hits;
    route = found->second;
    ++active;
  }
  bool stopped = request.maxBytes != 0 && route.body.size() > request.maxBytes;
  const size_t piece = request.chunkSize == 0 ? route.body.size() : request.chunkSize;
  for (size_t offset = 0; !stopped && offset < route.body.size(); offset += piece) {
    const size_t take = std::min(piece, route.body.size() - offset);
    stopped = !consume(std::span<const uint8_t>(route.body).subspan(offset, take));
  }
  std::unique_lock lock(mutex);
  if (route.hold && !stopped) {
    ++held;
    changed.notify_all();
    changed.wait(lock, [this] { return released; });
    --held;
  }
  --active;
  changed.notify_all();
  // Set last, on the calling thread: nothing after it may overwrite the code.
  const uint32_t error = stopped ? platform::ERROR_INTERNET_CONNECTION_ABORTED : route.error;
  lock.unlock();
  platform::SetLastError(error);
  return error == 0;
}

}  // namespace tests
