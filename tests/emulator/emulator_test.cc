// varno-sim as a process, through the stand-in library (loaded as the tool
// loads it), through raw datagrams and through raw HTTP: faults within their
// time bounds, writes applied once, the control API's answers and its event
// streams, and the end within 1 s.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "datagram.h"
#include "driver/driver_binding.h"
#include "emulator_process.h"
#include "udp_socket.h"

namespace varno::sim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

milliseconds Since(Clock::time_point begin) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - begin);
}

// One HTTP exchange on a connection of its own, written byte for byte.
class HttpConnection {
 public:
  explicit HttpConnection(std::uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~HttpConnection() { close(fd_); }
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  bool Send(const std::string& bytes) const {
    return connected_ &&
           write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // Reads until `done(received)` or the connection ends or `timeout` passes.
  const std::string& ReadUntil(const std::function<bool(const std::string&)>& done,
                               milliseconds timeout = milliseconds(5000)) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (!done(received_) && Clock::now() < deadline) {
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, 50) <= 0) continue;
      char chunk[4096];
      ssize_t got = read(fd_, chunk, sizeof chunk);
      if (got <= 0) break;
      received_.append(chunk, static_cast<std::size_t>(got));
    }
    return received_;
  }
  const std::string& received() const { return received_; }

 private:
  int fd_ = -1;
  bool connected_ = false;
  std::string received_;
};

struct HttpAnswer {
  int status = 0;
  std::string body;
  milliseconds took{0};
};

// `head` is the request line and headers without the final blank line; a
// body gets its Content-Length.
HttpAnswer Exchange(std::uint16_t port, std::string head, const std::string& body = "") {
  const Clock::time_point begin = Clock::now();
  HttpConnection c(port);
  if (!body.empty()) head += "\r\nContent-Length: " + std::to_string(body.size());
  EXPECT_TRUE(c.Send(head + "\r\nConnection: close\r\n\r\n" + body));
  const std::string& text = c.ReadUntil([](const std::string&) { return false; });
  HttpAnswer answer;
  answer.took = Since(begin);
  if (text.size() > 12)
    answer.status = static_cast<int>(std::strtol(text.c_str() + 9, nullptr, 10));
  const std::size_t blank = text.find("\r\n\r\n");
  if (blank != std::string::npos) answer.body = text.substr(blank + 4);
  return answer;
}

std::string Host(std::uint16_t port) { return "Host: 127.0.0.1:" + std::to_string(port); }

HttpAnswer Get(std::uint16_t port, const std::string& path) {
  return Exchange(port, "GET " + path + " HTTP/1.1\r\n" + Host(port));
}

HttpAnswer Put(std::uint16_t port, const std::string& path, const std::string& json) {
  return Exchange(
      port, "PUT " + path + " HTTP/1.1\r\n" + Host(port) + "\r\nContent-Type: application/json",
      json);
}

const DriverApi& Library() {
  static const DriverBinding binding = LoadAndBindDriver(VARNO_SIMULATOR_PATH);
  return binding.api;
}

class Emulator : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.started()) << sim_.error();
    ASSERT_NE(Library().start_ZUNVarno, nullptr);
    setenv("VARNO_SIM_EMULATOR", sim_.platform().c_str(), 1);
    for (const char* name : {"VARNO_SIM_CONFIG", "VARNO_SIM_JOURNAL", "VARNO_SIM_LOG"})
      unsetenv(name);
    setenv("VARNO_SIM_LOG", "/dev/null", 1);  // refusals are expected here
  }
  void TearDown() override {
    Library().close_ZUNVarno();
    unsetenv("VARNO_SIM_EMULATOR");
  }
  std::uint16_t port() const { return sim_.http_port(); }

  // How many of the emulator's journal lines are exactly `call`.
  int Journaled(const std::string& call) {
    const std::string body = Get(port(), "/api/journal?since=0").body;
    int count = 0;
    const std::string quoted = "\"" + call + "\"";
    for (std::size_t at = body.find(quoted); at != std::string::npos;
         at = body.find(quoted, at + 1))
      ++count;
    return count;
  }

  EmulatorProcess sim_;
};

TEST_F(Emulator, FaultsShowWithinTheirBounds) {
  const DriverApi& api = Library();
  // Nothing listening: -3 within 1 s.
  setenv("VARNO_SIM_EMULATOR", "127.0.0.1:1", 1);
  Clock::time_point begin = Clock::now();
  EXPECT_EQ(api.start_ZUNVarno(), kStartUnreachable);
  EXPECT_LT(Since(begin), milliseconds(1000));
  setenv("VARNO_SIM_EMULATOR", sim_.platform().c_str(), 1);

  // A pulled module is in the next start's mask, and its bit clears at once.
  ASSERT_EQ(Put(port(), "/api/modules/2", R"({"answering": false})").status, 200);
  EXPECT_EQ(api.start_ZUNVarno(), 0x4);
  ASSERT_EQ(Put(port(), "/api/modules/2", R"({"answering": true})").status, 200);
  ASSERT_EQ(api.start_ZUNVarno(), kStartOk);
  ASSERT_EQ(Put(port(), "/api/modules/3", R"({"answering": false})").status, 200);
  EXPECT_EQ(api.getStatus_ZUNVarno(), 0x7u);
  ASSERT_EQ(Put(port(), "/api/modules/3", R"({"answering": true})").status, 200);

  // Latency and jitter below the deadline lose nothing and double nothing.
  ASSERT_EQ(Put(port(), "/api/link", R"({"latency_ms": 40, "jitter_ms": 10})").status, 200);
  const int before = Journaled("getStatus_ZUNVarno() -> 15");
  for (int i = 0; i < 20; ++i) EXPECT_EQ(api.getStatus_ZUNVarno(), 0xfu) << i;
  EXPECT_EQ(Journaled("getStatus_ZUNVarno() -> 15"), before + 20);

  // A cut link: readings freeze, writes are refused, no call waits long.
  ASSERT_EQ(Put(port(), "/api/link", R"({"latency_ms": 0, "jitter_ms": 0})").status, 200);
  ASSERT_TRUE(api.setValue_ZUNVarno("AO_1", 0.5f));
  const float frozen = api.getValue_ZUNVarno("AI_1");
  EXPECT_FLOAT_EQ(frozen, 5.0f);
  ASSERT_EQ(Put(port(), "/api/link", R"({"up": false})").status, 200);
  begin = Clock::now();
  EXPECT_EQ(api.getValue_ZUNVarno("AI_1"), frozen);
  EXPECT_EQ(api.getStatus_ZUNVarno(), 0x1000000u);
  EXPECT_EQ(api.setValue_ZUNVarno("AO_1", 1.0f), 0);
  EXPECT_EQ(api.setCalibration_ZUNVarno("AI_1", 0, 10), -4);
  EXPECT_LT(Since(begin), milliseconds(4 * 350));
  ASSERT_EQ(Put(port(), "/api/link", R"({"up": true})").status, 200);
  EXPECT_EQ(api.getStatus_ZUNVarno(), 0x1000000u) << "lost until the next start";
  EXPECT_EQ(api.start_ZUNVarno(), kStartOk);
  EXPECT_EQ(api.getStatus_ZUNVarno(), 0xfu);
}

TEST_F(Emulator, HeldInputReachesTheHostWithin200Milliseconds) {
  const DriverApi& api = Library();
  ASSERT_EQ(api.start_ZUNVarno(), kStartOk);
  const Clock::time_point begin = Clock::now();
  ASSERT_EQ(Put(port(), "/api/signals/AI_2", R"({"value": 3.25})").status, 200);
  while (api.getValue_ZUNVarno("AI_2") != 3.25f && Since(begin) < milliseconds(2000)) {
  }
  EXPECT_LT(Since(begin), milliseconds(200));
  // A held input outweighs its wiring, until released.
  ASSERT_EQ(Put(port(), "/api/signals/DI_1", R"({"value": true})").status, 200);
  EXPECT_EQ(api.getValue_ZUNVarno("DI_1"), 1.0f);
  ASSERT_EQ(Put(port(), "/api/signals/DI_1", R"({"release": true})").status, 200);
  EXPECT_EQ(api.getValue_ZUNVarno("DI_1"), 0.0f);
  const std::string state = Get(port(), "/api/state").body;
  EXPECT_NE(
      state.find(
          R"("held":true,"kind":"AI","module":2,"name":"AI_2","range":[0.0,10.0],"raw":3.25)"),
      std::string::npos)
      << state;
}

// Raw datagrams: a retried write runs once, and a second host's start takes
// the platform over from the first.
TEST_F(Emulator, RetriedWriteRunsOnceAndASecondHostTakesOver) {
  UdpSocket first;
  UdpSocket second;
  std::string error;
  ASSERT_TRUE(first.Open({0x7f000001, 0}, &error)) << error;
  ASSERT_TRUE(second.Open({0x7f000001, 0}, &error)) << error;
  const Endpoint to = *ParseEndpoint(sim_.platform());
  auto ask = [&](UdpSocket& socket, const Request& request) {
    socket.SendTo(to, Encode(request));
    std::vector<std::uint8_t> bytes;
    Endpoint from;
    EXPECT_EQ(socket.Receive(milliseconds(1000), &bytes, &from), UdpSocket::Wait::kDatagram);
    return bytes;
  };
  Call start;
  start.entry = Entry::kStart;
  Call set;
  set.entry = Entry::kSetValue;
  set.texts[0] = "DO_1";
  set.values[0] = 1;
  Call status;
  status.entry = Entry::kGetStatus;

  ASSERT_EQ(DecodeReply(ask(first, {7, 1, start}))->result.code, kStartOk);
  const std::vector<std::uint8_t> reply = ask(first, {7, 2, set});
  EXPECT_EQ(ask(first, {7, 2, set}), reply) << "a retry gets the same reply";
  EXPECT_EQ(DecodeReply(reply)->result.code, 1);
  EXPECT_EQ(Journaled(R"(setValue_ZUNVarno(\"DO_1\",1) -> 1)"), 1);

  ASSERT_EQ(DecodeReply(ask(second, {9, 1, start}))->result.code, kStartOk);
  EXPECT_EQ(DecodeReply(ask(first, {7, 3, status}))->status, ReplyStatus::kNotYourSession);
  EXPECT_EQ(DecodeReply(ask(second, {9, 2, status}))->result.code, 0xf);
  EXPECT_NE(Get(port(), "/api/state").body.find(R"("connected":true)"), std::string::npos);
}

TEST_F(Emulator, BadRequestsAreRefusedWithAReason) {
  EmulatorProcess guarded({"--token", "sekrit"});
  ASSERT_TRUE(guarded.started()) << guarded.error();
  const std::string json = "\r\nContent-Type: application/json";
  const struct {
    std::uint16_t port;
    std::string head, body;
    int status;
    std::string reason;
  } kCases[] = {
      {port(), "GET /api/nothing HTTP/1.1\r\n" + Host(port()), "", 404, "no such endpoint"},
      {port(), "PUT /api/signals/NOPE HTTP/1.1\r\n" + Host(port()) + json, R"({"value": 1})", 404,
       "unknown signal 'NOPE'"},
      {port(), "PUT /api/signals/%FF HTTP/1.1\r\n" + Host(port()) + json, R"({"value": 1})", 404,
       "unknown signal '\xef\xbf\xbd'"},  // not UTF-8: replaced, not thrown over
      {port(), "PUT /api/signals/DO_1 HTTP/1.1\r\n" + Host(port()) + json, R"({"value": 1})", 409,
       "'DO_1' is an output"},
      {port(), "PUT /api/signals/AI_2 HTTP/1.1\r\n" + Host(port()) + json, R"({"value": 11})", 422,
       "reads from 0 to 10"},
      {port(), "PUT /api/signals/DI_3 HTTP/1.1\r\n" + Host(port()) + json, R"({"value": 0.5})", 422,
       "holds 0 or 1"},
      {port(), "PUT /api/signals/AI_2 HTTP/1.1\r\n" + Host(port()) + json, "{value", 400,
       "not a JSON object"},
      {port(), "PUT /api/signals/AI_2 HTTP/1.1\r\n" + Host(port()) + json, R"({"valeu": 1})", 400,
       "unknown key 'valeu'"},
      // No body and no length: answered at once, not after a wait for one.
      {port(), "PUT /api/signals/AI_2 HTTP/1.1\r\n" + Host(port()), "", 400, "needs a JSON body"},
      {port(), "POST /api/motion/reset HTTP/1.1\r\n" + Host(port()), "", 409, "not started"},
      {port(), "PUT /api/modules/9 HTTP/1.1\r\n" + Host(port()) + json, R"({"answering": true})",
       404, "no module 9"},
      {port(), "PUT /api/link HTTP/1.1\r\n" + Host(port()) + json, R"({"loss": 2})", 422,
       "'loss' must be a number from 0 to 1"},
      {port(), "GET /api/journal?since=x HTTP/1.1\r\n" + Host(port()), "", 400, "'since'"},
      {port(), "GET /api/journal?last=0 HTTP/1.1\r\n" + Host(port()), "", 400,
       "'last' must be a whole number from 1 to 1000"},
      {port(), "GET /api/journal?entry=getValue HTTP/1.1\r\n" + Host(port()), "", 400,
       "unknown entry 'getValue': one of start_ZUNVarno,"},
      {port(), "PUT /api/link HTTP/1.1\r\n" + Host(port()) + "\r\nContent-Type: text/plain",
       R"({"up": false})", 415, "application/json"},
      {port(),
       "PUT /api/link HTTP/1.1\r\n" + Host(port()) + "\r\nOrigin: http://example.org" + json,
       R"({"up": false})", 403, "another origin"},
      {port(),
       "POST /api/motion/emergency-stop HTTP/1.1\r\n" + Host(port()) +
           "\r\nSec-Fetch-Site: cross-site",
       "", 403, "another origin"},
      {port(), "GET /api/state HTTP/1.1\r\nHost: example.org:" + std::to_string(port()), "", 403,
       "not this emulator's loopback address"},
      {guarded.http_port(), "PUT /api/link HTTP/1.1\r\n" + Host(guarded.http_port()) + json,
       R"({"up": false})", 401, "needs its token"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.head);
    HttpAnswer answer = Exchange(c.port, c.head, c.body);
    EXPECT_EQ(answer.status, c.status) << answer.body;
    EXPECT_NE(answer.body.find(R"({"error":")"), std::string::npos) << answer.body;
    EXPECT_NE(answer.body.find(c.reason), std::string::npos) << answer.body;
    EXPECT_LT(answer.took, milliseconds(1000));
  }
  // Nothing refused changed anything; the token opens the door.
  EXPECT_NE(Get(port(), "/api/state").body.find(R"("up":true)"), std::string::npos);
  EXPECT_EQ(Exchange(guarded.http_port(),
                     "PUT /api/link HTTP/1.1\r\n" + Host(guarded.http_port()) +
                         "\r\nAuthorization: Bearer sekrit" + json,
                     R"({"up": false})")
                .status,
            200);
}

TEST_F(Emulator, EventStreamsNeitherStarveTheApiNorHoldTheEnd) {
  std::vector<std::unique_ptr<HttpConnection>> streams;
  auto has_state = [](int times) {
    return [times](const std::string& text) {
      std::size_t count = 0;
      for (std::size_t at = text.find("event: state"); at != std::string::npos;
           at = text.find("event: state", at + 1))
        ++count;
      return count >= static_cast<std::size_t>(times);
    };
  };
  for (int i = 0; i < 10; ++i) {
    streams.push_back(std::make_unique<HttpConnection>(port()));
    ASSERT_TRUE(streams.back()->Send("GET /api/events HTTP/1.1\r\n" + Host(port()) + "\r\n\r\n"));
    ASSERT_TRUE(has_state(1)(streams.back()->ReadUntil(has_state(1)))) << i;
  }
  for (int i = 0; i < 5; ++i) {
    HttpAnswer answer = Get(port(), "/api/state");
    EXPECT_EQ(answer.status, 200);
    EXPECT_LT(answer.took, milliseconds(1000));
  }
  ASSERT_EQ(Library().start_ZUNVarno(), kStartOk);
  ASSERT_EQ(Put(port(), "/api/link", R"({"latency_ms": 1})").status, 200);
  for (auto& stream : streams) {
    EXPECT_TRUE(has_state(2)(stream->ReadUntil(has_state(2))));
    EXPECT_NE(stream->received().find(R"("call":"start_ZUNVarno() -> 1")"), std::string::npos);
  }
  std::optional<milliseconds> took = sim_.Stop(SIGTERM, milliseconds(3000));
  ASSERT_TRUE(took.has_value()) << "varno-sim did not end";
  EXPECT_LT(*took, milliseconds(1000));
}

}  // namespace
}  // namespace varno::sim
