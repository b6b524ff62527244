// Replays inputs through a fuzz target without libFuzzer, so that every
// build runs the corpus: each argument is a file or a folder of files (not
// descended into); arguments starting with '-' are libFuzzer's and skipped.
// Fails when no input was found, so that a misnamed folder cannot pass.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool Replay(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // An empty input is handed over as a valid pointer, as libFuzzer does.
  static const uint8_t none = 0;
  const auto* data = bytes.empty() ? &none : reinterpret_cast<const uint8_t*>(bytes.data());
  LLVMFuzzerTestOneInput(data, bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.empty() || arg[0] == '-') continue;
    std::error_code ec;
    if (std::filesystem::is_directory(arg, ec)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg, ec)) {
        if (entry.is_regular_file(ec)) inputs.push_back(entry.path());
      }
      if (ec) std::fprintf(stderr, "cannot list %s: %s\n", arg.c_str(), ec.message().c_str());
    } else {
      inputs.emplace_back(arg);
    }
  }
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) {
    std::fprintf(stderr, "usage: %s FILE|FOLDER...: no input given or found\n", argv[0]);
    return 1;
  }
  size_t done = 0;
  for (const auto& path : inputs) {
    std::fprintf(stderr, "replaying %s\n", path.c_str());
    if (Replay(path)) ++done;
  }
  std::fprintf(stderr, "%zu of %zu inputs replayed\n", done, inputs.size());
  return done == inputs.size() ? 0 : 1;
}
