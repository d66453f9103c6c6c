#include "platform_server.h"

#include <chrono>
#include <queue>
#include <vector>

namespace varno::sim {
namespace {

using Time = std::chrono::steady_clock;

// How often the loop looks at the stop flag when no datagram comes.
constexpr std::chrono::milliseconds kStopCheck{100};

struct Delayed {
  Time::time_point due;
  Endpoint to;
  Bytes bytes;
  bool operator>(const Delayed& other) const { return due > other.due; }
};

}  // namespace

bool PlatformServer::Open(const Endpoint& listen, std::string* error) {
  return socket_.Open(listen, error);
}

void PlatformServer::Run(const std::atomic<bool>& stop) {
  std::priority_queue<Delayed, std::vector<Delayed>, std::greater<>> delayed;
  std::vector<std::uint8_t> bytes;
  while (!stop) {
    auto wait = kStopCheck;
    if (!delayed.empty())
      wait = std::min(
          wait, std::chrono::ceil<std::chrono::milliseconds>(delayed.top().due - Time::now()));
    if (wait.count() < 0) wait = std::chrono::milliseconds(0);
    Endpoint from;
    if (socket_.Receive(wait, &bytes, &from) == UdpSocket::Wait::kDatagram) {
      if (auto answer = platform_.Serve(bytes, from)) {
        if (answer->delay.count() <= 0)
          socket_.SendTo(from, answer->reply);
        else
          delayed.push({Time::now() + std::chrono::duration_cast<Time::duration>(answer->delay),
                        from, std::move(answer->reply)});
      }
    }
    while (!delayed.empty() && delayed.top().due <= Time::now()) {
      socket_.SendTo(delayed.top().to, delayed.top().bytes);
      delayed.pop();
    }
  }
}

}  // namespace varno::sim
