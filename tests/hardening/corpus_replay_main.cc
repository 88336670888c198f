// Runs every input kept in the given corpus folders through one fuzz
// target's LLVMFuzzerTestOneInput, as an ordinary test: a broken property
// aborts (and names itself on stderr), anything else passes. An empty or
// missing folder fails, so that a corpus cannot silently vanish.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER...\n", argv[0]);
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    std::vector<fs::path> inputs;
    for (const auto& entry : fs::directory_iterator(argv[i], error)) {
      if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
    if (error || inputs.empty()) {
      std::fprintf(stderr, "no inputs in %s\n", argv[i]);
      return 1;
    }
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path& input : inputs) {
      std::ifstream in(input, std::ios::binary);
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      // Printed first, so that a crash names the input that caused it.
      std::fprintf(stderr, "%s\n", input.filename().c_str());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("replayed %zu inputs from %s\n", inputs.size(), argv[i]);
  }
  return 0;
}
