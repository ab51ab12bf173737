// Replays a fuzz target's corpus without libFuzzer: every file below the given folders runs
// through the target once as it is, then in a fixed number of deterministic variations (bytes
// flipped, cut short, doubled), so that a normal test run exercises the parser beyond its seeds.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
void run(const std::vector<uint8_t>& bytes) {
  // A copy of exactly the input's size, so that reads past the end are caught by ASan.
  std::vector<uint8_t> copy(bytes);
  LLVMFuzzerTestOneInput(copy.empty() ? nullptr : copy.data(), copy.size());
}
}  // namespace

int main(int argc, char** argv) {
  std::mt19937 rng(12345);
  size_t files = 0;
  run({});
  for (int a = 1; a < argc; ++a) {
    std::error_code ec;
    std::vector<std::filesystem::path> paths;
    if (std::filesystem::is_directory(argv[a], ec)) {
      for (auto& e : std::filesystem::recursive_directory_iterator(argv[a], ec))
        if (e.is_regular_file()) paths.push_back(e.path());
    } else {
      paths.emplace_back(argv[a]);
    }
    for (auto& p : paths) {
      std::ifstream in(p, std::ios::binary);
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
      ++files;
      run(bytes);
      for (int v = 0; v < 200; ++v) {
        std::vector<uint8_t> m = bytes;
        switch (v % 4) {
          case 0:
            if (!m.empty()) m[rng() % m.size()] ^= uint8_t(1u << (rng() % 8));
            break;
          case 1:
            if (!m.empty()) m.resize(rng() % m.size());
            break;
          case 2:
            if (!m.empty()) m[rng() % m.size()] = uint8_t(rng());
            break;
          case 3:
            m.insert(m.end(), bytes.begin(), bytes.begin() + long(bytes.size() / 2));
            break;
        }
        run(m);
      }
    }
  }
  std::printf("replayed %zu corpus files\n", files);
  return 0;
}
