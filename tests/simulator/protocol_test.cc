// The platform protocol's pure parts: addresses as written, and every
// entry's datagrams through encoding and decoding (the fuzz target checks
// the decoder over any bytes).
#include <gtest/gtest.h>

#include "datagram.h"
#include "endpoint.h"
#include "text_format.h"

namespace varno::sim {
namespace {

TEST(Protocol, EndpointsAsWritten) {
  const struct {
    const char* text;
    std::optional<Endpoint> endpoint;
  } kCases[] = {
      {"127.0.0.1:5020", Endpoint{0x7f000001, 5020}},
      {"10.0.0.255:0", Endpoint{0x0a0000ff, 0}},
      {"0.0.0.0:65535", Endpoint{0, 65535}},
      {"127.0.0.1", std::nullopt},
      {"127.0.0.1:65536", std::nullopt},
      {"127.0.0.1:-1", std::nullopt},
      {"127.0.0.1:050", std::nullopt},
      {"localhost:5020", std::nullopt},
      {"1.2.3:4", std::nullopt},
      {"1.2.3.4.5:6", std::nullopt},
      {"256.1.1.1:1", std::nullopt},
      {":5020", std::nullopt},
      {"[::1]:5020", std::nullopt},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ParseEndpoint(c.text), c.endpoint) << c.text;
    if (c.endpoint) {
      EXPECT_EQ(EndpointText(*c.endpoint), c.text);
    }
  }
}

Call MakeCall(Entry entry, std::optional<std::string> name = std::nullopt) {
  Call call;
  call.entry = entry;
  call.texts[0] = std::move(name);
  return call;
}

TEST(Protocol, EveryEntryRoundTrips) {
  std::vector<Call> calls;
  for (int e = kFirstEntry; e <= kLastEntry; ++e) calls.push_back(MakeCall(static_cast<Entry>(e)));
  calls[1].texts = {std::nullopt, "", "18446744073709551615"};
  calls[2].texts[0] = "DI_1";
  calls[3].texts[0] = std::string(300, 'D');  // cut to 256 on the way
  calls[3].values[0] = -0.0f;
  calls[4].texts[0] = std::string("A\"\\\x01\xf3", 5);
  calls[6].values = {1e-38f, 3.4e38f};
  calls[8].number = -2147483647 - 1;
  calls[9].values = {0.2f, 0.4f, 0.6f, 0.8f, 1.0f};
  calls[10].number = 42;
  for (const Call& call : calls) {
    SCOPED_TRACE(EntryName(call.entry));
    const Bytes bytes = Encode(Request{0xdeadbeef, 0xffffffff, call});
    EXPECT_LE(bytes.size(), kMaxDatagram);
    std::optional<Request> back = DecodeRequest(bytes);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->session, 0xdeadbeef);
    EXPECT_EQ(back->sequence, 0xffffffff);
    Result nothing;
    Call expected = call;
    if (expected.texts[0] && expected.texts[0]->size() > kMaxCallText)
      expected.texts[0]->resize(kMaxCallText);
    EXPECT_EQ(JournalText(back->call, nothing), JournalText(expected, nothing));
    EXPECT_FALSE(DecodeReply(bytes).has_value()) << "a request is no reply";

    Reply reply{7, 8, call.entry, ReplyStatus::kDone, {2.5f, -3}};
    std::optional<Reply> answer = DecodeReply(Encode(reply));
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(JournalText(call, answer->result), JournalText(call, [&] {
                Result r;  // only the field the entry returns travels
                const bool value = call.entry == Entry::kGetValue ||
                                   call.entry == Entry::kGetAIValueForCalibration ||
                                   call.entry == Entry::kGetParameter;
                if (value)
                  r.value = 2.5f;
                else
                  r.code = -3;
                return r;
              }()));
  }
}

TEST(Protocol, MalformedDatagramsAreNotDecoded) {
  const Bytes good = Encode(Request{1, 2, MakeCall(Entry::kGetValue, "DI_1")});
  ASSERT_TRUE(DecodeRequest(good).has_value());
  auto changed = [&](std::size_t at, std::uint8_t to) {
    Bytes b = good;
    b[at] = to;
    return b;
  };
  Bytes longer = good;
  longer.push_back(0);
  Bytes shorter(good.begin(), good.end() - 1);
  const Bytes kCases[] = {
      changed(0, 'X'),   // magic
      changed(4, 2),     // version
      changed(5, 2),     // a reply's kind
      changed(6, 0),     // no such entry
      changed(6, 12),    // no such entry
      changed(7, 1),     // a request has no status
      changed(16, 255),  // a text longer than the datagram
      longer,           shorter, {},
  };
  for (const Bytes& bytes : kCases) EXPECT_FALSE(DecodeRequest(bytes).has_value());
  Bytes long_text = Encode(Request{1, 2, MakeCall(Entry::kGetValue, std::string(256, 'x'))});
  long_text[16] = 1;  // length 257
  long_text[17] = 1;
  long_text.push_back('x');
  EXPECT_FALSE(DecodeRequest(long_text).has_value());
}

}  // namespace
}  // namespace varno::sim
