// The libFuzzer entry points; RYMAIL_FUZZ_TARGET picks the property.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fuzz/properties.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The option walk opens and creates files: keep them in a directory of their own.
  std::filesystem::path home = std::filesystem::temp_directory_path() / "rymail-fuzz";
  std::filesystem::create_directories(home);
  std::filesystem::current_path(home);
  std::ofstream("body.txt") << "body\n";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string problem = RYMAIL_FUZZ_TARGET(data, size);
  if (!problem.empty()) {
    std::fprintf(stderr, "property broken: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
