// Runs a fuzz target over every file of the given corpus folders (and files),
// so that the corpus doubles as a regression test where libFuzzer is absent.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static bool RunFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
    return false;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return true;
}

int main(int argc, char** argv) {
  size_t runs = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(arg)) {
        if (!entry.is_regular_file()) continue;
        if (!RunFile(entry.path())) return 1;
        ++runs;
      }
    } else {
      if (!RunFile(arg)) return 1;
      ++runs;
    }
  }
  std::printf("replayed %zu inputs\n", runs);
  // An empty corpus means the test is wired wrongly, not that it passed.
  return runs > 0 ? 0 : 1;
}
