#include "driver/driver_binding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "driver/library_word_size.h"

namespace {

void AnyEntry() {}

// A library exporting every name but `absent`, recording each look-up.
class FakeLibrary final : public SharedLibrary {
 public:
  explicit FakeLibrary(std::set<std::string> absent) : absent_(std::move(absent)) {}
  EntryPoint Find(const char* name) const override {
    lookups.emplace_back(name);
    return absent_.contains(name) ? nullptr : &AnyEntry;
  }
  mutable std::vector<std::string> lookups;

 private:
  std::set<std::string> absent_;
};

const std::vector<std::string> kTableOrder = {"start_ZUNVarno",
                                              "start_ZUNVarno2",
                                              "getValue_ZUNVarno",
                                              "setValue_ZUNVarno",
                                              "getAIValueForCalibration_ZUNVarno",
                                              "close_ZUNVarno",
                                              "setCalibration_ZUNVarno",
                                              "getStatus_ZUNVarno",
                                              "MP_getParameter",
                                              "MP_updateDynamicParameters",
                                              "MP_sendCommand"};

TEST(DriverBinding, LooksUpEachEntryOnceInTableOrder) {
  FakeLibrary library({});
  const DriverBinding binding = BindDriver(library);
  EXPECT_TRUE(binding.bound());
  EXPECT_EQ(library.lookups, kTableOrder);
  const DriverApi& api = binding.api;
  for (const void* slot : {reinterpret_cast<const void*>(api.start_ZUNVarno),
                           reinterpret_cast<const void*>(api.MP_sendCommand),
                           reinterpret_cast<const void*>(api.getStatus_ZUNVarno)}) {
    EXPECT_EQ(slot, reinterpret_cast<const void*>(&AnyEntry));
  }
}

TEST(DriverBinding, NamesEveryMissingEntryAfterLookingUpAll) {
  FakeLibrary library({"MP_sendCommand", "getValue_ZUNVarno"});
  const DriverBinding binding = BindDriver(library);
  EXPECT_FALSE(binding.bound());
  EXPECT_EQ(library.lookups, kTableOrder);
  EXPECT_EQ(binding.missing, (std::vector<std::string>{"getValue_ZUNVarno", "MP_sendCommand"}));
}

TEST(DriverBinding, ALibraryThatCannotBeLoadedGivesTheSystemsReason) {
  const DriverBinding binding = LoadAndBindDriver("no-such-library-here.so");
  EXPECT_FALSE(binding.loaded);
  EXPECT_NE(binding.load_failure.reason.find("no-such-library-here.so"), std::string::npos)
      << binding.load_failure.reason;
  EXPECT_EQ(binding.load_failure.library_bits, 0);
}

// The leading bytes of a PE file: the DOS header pointing at `pe`, where the
// signature stands, then the file header and the optional header's magic;
// cut to `size` bytes.
std::string PeHeader(std::uint32_t pe, std::string_view signature, std::uint16_t magic,
                     std::size_t size = 0x200) {
  std::string bytes(0x400, '\0');
  bytes.replace(0, 2, "MZ");
  for (int i = 0; i < 4; ++i) bytes[0x3C + i] = static_cast<char>(pe >> (8 * i));
  if (std::size_t{pe} + 26 <= bytes.size()) {
    bytes.replace(pe, 4, signature);
    bytes[pe + 24] = static_cast<char>(magic & 0xFF);
    bytes[pe + 25] = static_cast<char>(magic >> 8);
  }
  bytes.resize(size);
  return bytes;
}

TEST(LibraryWordSize, ReadsThePeHeader) {
  const std::string kPe("PE\0\0", 4);
  const struct {
    std::string header;
    int bits;
  } headers[] = {
      {PeHeader(0x80, kPe, 0x10B), 32},
      {PeHeader(0x80, kPe, 0x20B), 64},
      {PeHeader(0xF8, kPe, 0x20B), 64},
      {PeHeader(0x80, kPe, 0x107), 0},  // a ROM image
      {PeHeader(0x80, std::string("NE\0\0", 4), 0x10B), 0},
      {PeHeader(0x80, kPe, 0x10B, 0x80 + 25), 0},  // cut before the magic's end
      {PeHeader(0xFFFFFFF0, kPe, 0x10B), 0},       // the signature lies beyond
      {"\x7f"
       "ELF\x02\x01\x01",
       0},
      {"not a library\n", 0},
      {"", 0},
  };
  for (const auto& c : headers)
    EXPECT_EQ(PeWordSize(c.header), c.bits) << testing::PrintToString(c.header);
}

}  // namespace
