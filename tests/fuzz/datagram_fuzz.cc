// The platform protocol's decoder over any bytes, and varno-sim's answer to
// them: decoding never crashes, what it accepts is exactly what encoding
// gives back (one spelling a datagram), no text is longer than a call may
// hold, and the emulated platform answers every well-formed request.
#include <cstddef>
#include <cstdint>
#include <span>

#include "datagram.h"
#include "emulated_platform.h"
#include "fuzz_check.h"

namespace {

using varno::sim::Bytes;

struct QuietLog final : varno::sim::Log {
  void Write(varno::sim::LogLevel /*level*/, std::string_view /*message*/) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static QuietLog log;
  static varno::sim::EmulatedPlatform platform(varno::sim::Options{}, varno::sim::PlatformConfig{},
                                               log);
  const std::span<const std::uint8_t> bytes(data, size);
  const Bytes input(data, data + size);
  const auto request = varno::sim::DecodeRequest(bytes);
  const auto reply = varno::sim::DecodeReply(bytes);
  FUZZ_CHECK(!(request && reply));
  if (request) {
    FUZZ_CHECK(size <= varno::sim::kMaxDatagram);
    for (const auto& text : request->call.texts)
      FUZZ_CHECK(!text || text->size() <= varno::sim::kMaxCallText);
    FUZZ_CHECK(varno::sim::Encode(*request) == input);
    const auto answer = platform.Serve(bytes, varno::sim::Endpoint{0x7f000001, 40000});
    FUZZ_CHECK(answer.has_value());
    const auto answered = varno::sim::DecodeReply(answer->reply);
    FUZZ_CHECK(answered && answered->sequence == request->sequence &&
               answered->entry == request->call.entry);
  }
  if (reply) FUZZ_CHECK(varno::sim::Encode(*reply) == input);
  return 0;
}
