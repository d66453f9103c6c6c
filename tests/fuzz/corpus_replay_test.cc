// Replays one fuzz target's corpus (seeds and every input that once broke a
// property) through the target's own checks, in the ordinary build. A broken
// property aborts with the property and the file that broke it.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

TEST(FuzzCorpus, EveryInputKeepsTheProperties) {
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VARNO_FUZZ_CORPUS)) {
    const std::string path = entry.path().string();
    std::ifstream file(path, std::ios::binary);
    const std::string input((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    // Read only while this input runs; cleared after the last one.
    // cppcheck-suppress danglingLifetime
    varno::fuzz::g_replaying = path.c_str();
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    ++replayed;
  }
  varno::fuzz::g_replaying = nullptr;
  EXPECT_GT(replayed, 0) << "no inputs in " << VARNO_FUZZ_CORPUS;
}

}  // namespace
