// A driver for builds without libFuzzer: runs the fuzz target linked with it over every file
// named on the command line, folders read file by file in name order, so that the seed corpus
// replays as an ordinary test under the sanitizers. Exits 1 when an input cannot be read or no
// input was found; a broken invariant aborts inside the target.
//
// Example:
//   session_fuzz fuzz/corpus/session_fuzz

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size);

namespace fuzz {
namespace {

// InputsOf lists `path` itself, or the regular files of the folder `path` in name order.
std::vector<std::filesystem::path> InputsOf(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_directory(path, error)) return {path};
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
    if (entry.is_regular_file(error)) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool RunInput(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>()};
  std::fprintf(stderr, "running %s (%zu bytes)\n", path.c_str(), bytes.size());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace
}  // namespace fuzz

int main(int argc, char** argv) {
  size_t ran = 0;
  for (int i = 1; i < argc; ++i) {
    for (const std::filesystem::path& input : fuzz::InputsOf(argv[i])) {
      if (!fuzz::RunInput(input)) return 1;
      ++ran;
    }
  }
  std::fprintf(stderr, "%zu inputs ran\n", ran);
  return ran > 0 ? 0 : 1;
}
