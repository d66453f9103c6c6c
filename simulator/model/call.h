// The eleven entry points' calls as data. The stand-in library turns each
// call into a Call and hands it to a back end (the model in this process, or
// varno-sim over the wire); the protocol carries Calls and Results; the
// journal spells them, the same in every mode.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "driver/driver_api.h"

namespace varno::sim {

class Platform;

// Numbered as in driver_api.h's DriverApi; the numbers go on the wire.
enum class Entry : std::uint8_t {
  kStart = 1,
  kStart2 = 2,
  kGetValue = 3,
  kSetValue = 4,
  kGetAIValueForCalibration = 5,
  kClose = 6,
  kSetCalibration = 7,
  kGetStatus = 8,
  kGetParameter = 9,
  kUpdateDynamicParameters = 10,
  kSendCommand = 11,
};
inline constexpr int kFirstEntry = 1;
inline constexpr int kLastEntry = 11;

// A caller's string is read no further than this: any name longer is
// refused anyway.
inline constexpr std::size_t kMaxCallText = 256;

struct Call {
  Entry entry = Entry::kGetStatus;
  // start_ZUNVarno2's three arguments; the signal entries' name is texts[0].
  // A null pointer stays apart from an empty string.
  std::array<std::optional<std::string>, 3> texts;
  // setValue: [0]; setCalibration: A and B; MP_updateDynamicParameters: all.
  std::array<float, 5> values{};
  std::int32_t number = 0;  // MP_getParameter, MP_sendCommand
};

// What an entry returns; the field its type has, the other zero.
struct Result {
  float value = 0.0f;     // getValue, getAIValueForCalibration, MP_getParameter
  std::int32_t code = 0;  // start, setValue (1 or 0), setCalibration, getStatus (its bits)
};

// The entry's exported name, e.g. "getValue_ZUNVarno".
const char* EntryName(Entry entry);

// True for the entries that change the platform (start, set output,
// calibration, dynamic parameters, command, close): those the protocol
// applies at most once.
bool IsWrite(Entry entry);

// The call as the journal writes it, e.g. `setValue_ZUNVarno("DO_1",1) -> 1`.
std::string JournalText(const Call& call, const Result& result);

// Runs any call but a start on `platform`.
Result ApplyCall(Platform& platform, const Call& call);

}  // namespace varno::sim
