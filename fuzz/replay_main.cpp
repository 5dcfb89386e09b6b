// Replays inputs through a fuzz target for builds without libFuzzer: each
// argument is a file or a directory of files. A broken invariant aborts.
// No input at all is an error, so that an emptied corpus cannot pass.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    if (fs::is_directory(argv[i])) {
      for (const auto& entry : fs::directory_iterator(argv[i])) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    } else {
      files.push_back(argv[i]);
    }
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::fprintf(stderr, "%s\n", file.c_str());  // names the input behind an abort
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::fprintf(stderr, "cannot read %s\n", file.c_str()), 1;
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    static const uint8_t kNoBytes = 0;  // libFuzzer never passes a null pointer
    LLVMFuzzerTestOneInput(bytes.empty() ? &kNoBytes : bytes.data(), bytes.size());
  }
  std::printf("replayed %zu inputs\n", files.size());
  return files.empty() ? 1 : 0;
}
