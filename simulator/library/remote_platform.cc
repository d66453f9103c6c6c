#include "remote_platform.h"

#include <string>
#include <vector>

#include "platform.h"

namespace varno::sim {
namespace {

using SteadyTime = std::chrono::steady_clock;

// A session number no earlier start of this or another host is likely to
// have used: the clock's nanoseconds and an address of this process, mixed.
std::uint32_t NewSession() {
  static std::uint64_t counter = 0;
  std::uint64_t x = static_cast<std::uint64_t>(SteadyTime::now().time_since_epoch().count()) ^
                    reinterpret_cast<std::uintptr_t>(&counter) ^ (++counter << 32);
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
  auto session = static_cast<std::uint32_t>(x ^ (x >> 31));
  return session != 0 ? session : 1;
}

}  // namespace

StartResult RemotePlatform::Start(const Call& call, const StartRequest& /*request*/) {
  Release();
  std::string error;
  if (!socket_.Open(Endpoint{0, 0}, &error)) {
    log_.Write(LogLevel::kStartFailure, "the host's sockets: " + error);
    return kStartSocketError;
  }
  session_ = NewSession();
  sequence_ = 0;
  lost_ = false;
  frozen_.Clear();
  std::optional<Reply> reply = Exchange(call);
  const std::string where = "emulator " + EndpointText(emulator_);
  if (!reply || reply->status != ReplyStatus::kDone) {
    log_.Write(LogLevel::kStartFailure,
               where + ": no reply within " + std::to_string(kTries * kTryTimeout.count()) + " ms");
    socket_.Close();
    return kStartUnreachable;
  }
  const StartResult result = reply->result.code;
  if (result != kStartOk) {
    log_.Write(LogLevel::kStartFailure,
               where + ": the start returned " + std::to_string(result) + " (varno-sim tells why)");
    socket_.Close();
    return result;
  }
  started_ = true;
  return result;
}

Result RemotePlatform::Run(const Call& call) {
  Result result;
  if (!started_) {
    Refuse(call, "the platform is not started");
    if (call.entry == Entry::kSetCalibration) result.code = kCalibrationNoLink;
    return result;
  }
  if (!lost_) {
    std::optional<Reply> reply = Exchange(call);
    if (!reply)
      LoseLink("no reply from emulator " + EndpointText(emulator_) + " within " +
               std::to_string(kTries * kTryTimeout.count()) + " ms");
    else if (reply->status == ReplyStatus::kNotYourSession)
      LoseLink("another host's start took emulator " + EndpointText(emulator_) + " over");
    else
      result = reply->result;
    if (!lost_) frozen_.Remember(call, result);
  }
  if (lost_) {
    Refuse(call, "the link is lost; values are frozen");
    result = frozen_.WhileLost(call);
  }
  if (call.entry == Entry::kClose) Release();
  return result;
}

void RemotePlatform::Release() {
  started_ = false;
  socket_.Close();
}

void RemotePlatform::LoseLink(const std::string& why) {
  lost_ = true;
  log_.Write(LogLevel::kRefusal, "link: " + why);
}

void RemotePlatform::Refuse(const Call& call, const char* reason) {
  log_.Write(LogLevel::kRefusal, std::string(EntryName(call.entry)) + ": " + reason);
}

std::optional<Reply> RemotePlatform::Exchange(const Call& call) {
  const Bytes request = Encode(Request{session_, ++sequence_, call});
  std::vector<std::uint8_t> bytes;
  for (int attempt = 0; attempt < kTries; ++attempt) {
    socket_.SendTo(emulator_, request);  // a refused send is a lost datagram
    const SteadyTime::time_point deadline = SteadyTime::now() + kTryTimeout;
    for (;;) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyTime::now());
      if (left.count() <= 0) break;
      Endpoint from;
      UdpSocket::Wait wait = socket_.Receive(left, &bytes, &from);
      if (wait == UdpSocket::Wait::kError) return std::nullopt;
      if (wait == UdpSocket::Wait::kTimeout) break;
      std::optional<Reply> reply = DecodeReply(bytes);
      // Anything else is stale (an earlier call's late reply) or not ours.
      if (from == emulator_ && reply && reply->session == session_ &&
          reply->sequence == sequence_ && reply->entry == call.entry)
        return reply;
    }
  }
  return std::nullopt;
}

}  // namespace varno::sim
