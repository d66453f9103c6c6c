#include "driver/driver_binding.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

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
  EXPECT_NE(binding.load_error.find("no-such-library-here.so"), std::string::npos)
      << binding.load_error;
}

}  // namespace
