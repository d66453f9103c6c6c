#include "call.h"

#include <string_view>

#include "platform.h"
#include "text_format.h"

namespace varno::sim {
namespace {

std::string Text(const std::optional<std::string>& text) { return text ? Quoted(*text) : "null"; }

std::string_view Name(const Call& call) {
  return call.texts[0] ? std::string_view(*call.texts[0]) : std::string_view();
}

}  // namespace

const char* EntryName(Entry entry) {
  static constexpr const char* kNames[] = {
      "start_ZUNVarno",
      "start_ZUNVarno2",
      "getValue_ZUNVarno",
      "setValue_ZUNVarno",
      "getAIValueForCalibration_ZUNVarno",
      "close_ZUNVarno",
      "setCalibration_ZUNVarno",
      "getStatus_ZUNVarno",
      "MP_getParameter",
      "MP_updateDynamicParameters",
      "MP_sendCommand",
  };
  const int index = static_cast<int>(entry) - kFirstEntry;
  return index >= 0 && index < kLastEntry ? kNames[index] : "unknown";
}

bool IsWrite(Entry entry) {
  switch (entry) {
    case Entry::kStart:
    case Entry::kStart2:
    case Entry::kSetValue:
    case Entry::kClose:
    case Entry::kSetCalibration:
    case Entry::kUpdateDynamicParameters:
    case Entry::kSendCommand: return true;
    default: return false;
  }
}

std::string JournalText(const Call& call, const Result& result) {
  std::string text = EntryName(call.entry);
  text += '(';
  const std::string code = " -> " + std::to_string(result.code);
  const std::string value = " -> " + FloatText(result.value);
  switch (call.entry) {
    case Entry::kStart: return text + ")" + code;
    case Entry::kStart2:
      return text + Text(call.texts[0]) + "," + Text(call.texts[1]) + "," + Text(call.texts[2]) +
             ")" + code;
    case Entry::kGetValue:
    case Entry::kGetAIValueForCalibration: return text + Text(call.texts[0]) + ")" + value;
    case Entry::kSetValue:
      return text + Text(call.texts[0]) + "," + FloatText(call.values[0]) + ")" + code;
    case Entry::kClose: return text + ")";
    case Entry::kSetCalibration:
      return text + Text(call.texts[0]) + "," + FloatText(call.values[0]) + "," +
             FloatText(call.values[1]) + ")" + code;
    case Entry::kGetStatus:
      return text + ") -> " + std::to_string(static_cast<std::uint32_t>(result.code));
    case Entry::kGetParameter: return text + std::to_string(call.number) + ")" + value;
    case Entry::kUpdateDynamicParameters:
      for (int i = 0; i < 5; ++i) text += FloatText(call.values[i]) + (i < 4 ? "," : ")");
      return text;
    case Entry::kSendCommand: return text + std::to_string(call.number) + ")";
  }
  return text + ")";
}

Result ApplyCall(Platform& platform, const Call& call) {
  Result result;
  switch (call.entry) {
    case Entry::kStart:
    case Entry::kStart2: break;  // the back ends start the platform themselves
    case Entry::kGetValue: result.value = platform.GetValue(Name(call)); break;
    case Entry::kSetValue:
      result.code = platform.SetValue(Name(call), call.values[0]) ? 1 : 0;
      break;
    case Entry::kGetAIValueForCalibration: result.value = platform.GetRawValue(Name(call)); break;
    case Entry::kClose: platform.Close(); break;
    case Entry::kSetCalibration:
      result.code = platform.SetCalibration(Name(call), call.values[0], call.values[1]);
      break;
    case Entry::kGetStatus: result.code = static_cast<std::int32_t>(platform.Status()); break;
    case Entry::kGetParameter: result.value = platform.GetParameter(call.number); break;
    case Entry::kUpdateDynamicParameters: {
      const float values[5] = {call.values[0], call.values[1], call.values[2], call.values[3],
                               call.values[4]};
      platform.UpdateDynamicParameters(values);
      break;
    }
    case Entry::kSendCommand: platform.SendCommand(call.number); break;
  }
  return result;
}

}  // namespace varno::sim
