#include "console/prompts.h"

namespace {

template <typename T>
std::optional<T> Answer(Session& session, NumberStatus status, T value) {
  switch (status) {
    case NumberStatus::kOk: return value;
    case NumberStatus::kInvalid:
      if (session.terminal.Print("\nINVALID NUMBER")) session.terminal.ReadKey(Echo::kNo);
      return std::nullopt;
    case NumberStatus::kLeave: break;
  }
  return std::nullopt;
}

}  // namespace

bool ReadSignalName(Session& session) {
  Terminal& terminal = session.terminal;
  for (;;) {
    if (!terminal.Print("\n\nSIGNAL NAME? ")) return false;
    switch (terminal.ReadLine(session.signal_name)) {
      case LineStatus::kOk: return true;
      case LineStatus::kTooLong:
        terminal.Print("\nSIGNAL NAME TOO LONG (49 CHARACTERS AT MOST)");
        break;
      case LineStatus::kNotPrintable:
        terminal.Print("\nSIGNAL NAME MAY HOLD PRINTABLE ASCII CHARACTERS ONLY");
        break;
      case LineStatus::kLeave: return false;
    }
  }
}

std::optional<float> AskFloat(Session& session, const char* prompt) {
  float value = 0;
  if (!session.terminal.Print(prompt)) return std::nullopt;
  const NumberStatus status = session.terminal.ReadFloat(&value);
  return Answer(session, status, value);
}

std::optional<std::int32_t> AskInt(Session& session, const char* prompt) {
  std::int32_t value = 0;
  if (!session.terminal.Print(prompt)) return std::nullopt;
  const NumberStatus status = session.terminal.ReadInt(&value);
  return Answer(session, status, value);
}
