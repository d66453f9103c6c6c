#include "datagram.h"

#include <algorithm>
#include <bit>
#include <string>

namespace varno::sim {
namespace {

constexpr std::uint8_t kMagic[4] = {'V', 'R', 'N', 'O'};
constexpr std::uint8_t kRequestKind = 1;
constexpr std::uint8_t kReplyKind = 2;
constexpr std::uint16_t kNullText = 0xffff;

enum class Shape { kNone, kTexts3, kText, kTextValue, kTextValues2, kNumber, kValues5 };

Shape ArgumentsOf(Entry entry) {
  switch (entry) {
    case Entry::kStart2: return Shape::kTexts3;
    case Entry::kGetValue:
    case Entry::kGetAIValueForCalibration: return Shape::kText;
    case Entry::kSetValue: return Shape::kTextValue;
    case Entry::kSetCalibration: return Shape::kTextValues2;
    case Entry::kGetParameter:
    case Entry::kSendCommand: return Shape::kNumber;
    case Entry::kUpdateDynamicParameters: return Shape::kValues5;
    default: return Shape::kNone;
  }
}

enum class Answer { kNone, kValue, kCode };

Answer AnswerOf(Entry entry) {
  switch (entry) {
    case Entry::kGetValue:
    case Entry::kGetAIValueForCalibration:
    case Entry::kGetParameter: return Answer::kValue;
    case Entry::kClose:
    case Entry::kUpdateDynamicParameters:
    case Entry::kSendCommand: return Answer::kNone;
    default: return Answer::kCode;
  }
}

class Writer {
 public:
  void U8(std::uint8_t v) { bytes_.push_back(v); }
  void U16(std::uint16_t v) {
    U8(static_cast<std::uint8_t>(v));
    U8(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) U8(static_cast<std::uint8_t>(v >> shift));
  }
  void F32(float v) { U32(std::bit_cast<std::uint32_t>(v)); }
  void Text(const std::optional<std::string>& text) {
    if (!text) return U16(kNullText);
    const std::size_t length = std::min(text->size(), kMaxCallText);
    U16(static_cast<std::uint16_t>(length));
    bytes_.insert(bytes_.end(), text->begin(), text->begin() + static_cast<std::ptrdiff_t>(length));
  }
  void Header(std::uint8_t kind, Entry entry, std::uint8_t status, std::uint32_t session,
              std::uint32_t sequence) {
    bytes_.insert(bytes_.end(), std::begin(kMagic), std::end(kMagic));
    U8(kProtocolVersion);
    U8(kind);
    U8(static_cast<std::uint8_t>(entry));
    U8(status);
    U32(session);
    U32(sequence);
  }
  Bytes Take() { return std::move(bytes_); }

 private:
  Bytes bytes_;
};

// Reads forward; every read fails once the bytes run out, and stays failed.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  bool AtEnd() const { return ok_ && at_ == bytes_.size(); }

  std::uint8_t U8() {
    if (!ok_ || at_ >= bytes_.size()) {
      ok_ = false;
      return 0;
    }
    return bytes_[at_++];
  }
  std::uint16_t U16() {
    std::uint16_t low = U8();
    return static_cast<std::uint16_t>(low | (U8() << 8));
  }
  std::uint32_t U32() {
    std::uint32_t v = 0;
    for (int shift = 0; shift < 32; shift += 8) v |= static_cast<std::uint32_t>(U8()) << shift;
    return v;
  }
  float F32() { return std::bit_cast<float>(U32()); }
  std::optional<std::string> Text() {
    const std::uint16_t length = U16();
    if (length == kNullText || !ok_) return std::nullopt;
    if (length > kMaxCallText || bytes_.size() - at_ < length) {
      ok_ = false;
      return std::nullopt;
    }
    std::string text(bytes_.begin() + static_cast<std::ptrdiff_t>(at_),
                     bytes_.begin() + static_cast<std::ptrdiff_t>(at_ + length));
    at_ += length;
    return text;
  }

  // The header's fields; false unless magic, version and kind are right.
  bool Header(std::uint8_t kind, Entry* entry, std::uint8_t* status, std::uint32_t* session,
              std::uint32_t* sequence) {
    for (std::uint8_t m : kMagic)
      if (U8() != m) return false;
    if (U8() != kProtocolVersion || U8() != kind) return false;
    const std::uint8_t number = U8();
    if (number < kFirstEntry || number > kLastEntry) return false;
    *entry = static_cast<Entry>(number);
    *status = U8();
    *session = U32();
    *sequence = U32();
    return ok_;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

}  // namespace

Bytes Encode(const Request& request) {
  Writer w;
  const Call& c = request.call;
  w.Header(kRequestKind, c.entry, 0, request.session, request.sequence);
  switch (ArgumentsOf(c.entry)) {
    case Shape::kNone: break;
    case Shape::kTexts3:
      for (const auto& text : c.texts) w.Text(text);
      break;
    case Shape::kText: w.Text(c.texts[0]); break;
    case Shape::kTextValue:
      w.Text(c.texts[0]);
      w.F32(c.values[0]);
      break;
    case Shape::kTextValues2:
      w.Text(c.texts[0]);
      w.F32(c.values[0]);
      w.F32(c.values[1]);
      break;
    case Shape::kNumber: w.U32(static_cast<std::uint32_t>(c.number)); break;
    case Shape::kValues5:
      for (float v : c.values) w.F32(v);
      break;
  }
  return w.Take();
}

Bytes Encode(const Reply& reply) {
  Writer w;
  w.Header(kReplyKind, reply.entry, static_cast<std::uint8_t>(reply.status), reply.session,
           reply.sequence);
  if (reply.status != ReplyStatus::kDone) return w.Take();
  switch (AnswerOf(reply.entry)) {
    case Answer::kNone: break;
    case Answer::kValue: w.F32(reply.result.value); break;
    case Answer::kCode: w.U32(static_cast<std::uint32_t>(reply.result.code)); break;
  }
  return w.Take();
}

std::optional<Request> DecodeRequest(std::span<const std::uint8_t> bytes) {
  Reader r(bytes);
  Request request;
  Call& c = request.call;
  std::uint8_t status = 0;
  if (!r.Header(kRequestKind, &c.entry, &status, &request.session, &request.sequence) ||
      status != 0)
    return std::nullopt;
  switch (ArgumentsOf(c.entry)) {
    case Shape::kNone: break;
    case Shape::kTexts3:
      for (auto& text : c.texts) text = r.Text();
      break;
    case Shape::kText: c.texts[0] = r.Text(); break;
    case Shape::kTextValue:
      c.texts[0] = r.Text();
      c.values[0] = r.F32();
      break;
    case Shape::kTextValues2:
      c.texts[0] = r.Text();
      c.values[0] = r.F32();
      c.values[1] = r.F32();
      break;
    case Shape::kNumber: c.number = static_cast<std::int32_t>(r.U32()); break;
    case Shape::kValues5:
      for (float& v : c.values) v = r.F32();
      break;
  }
  if (!r.AtEnd()) return std::nullopt;
  return request;
}

std::optional<Reply> DecodeReply(std::span<const std::uint8_t> bytes) {
  Reader r(bytes);
  Reply reply;
  std::uint8_t status = 0;
  if (!r.Header(kReplyKind, &reply.entry, &status, &reply.session, &reply.sequence))
    return std::nullopt;
  if (status == static_cast<std::uint8_t>(ReplyStatus::kNotYourSession)) {
    reply.status = ReplyStatus::kNotYourSession;
    return r.AtEnd() ? std::optional<Reply>(reply) : std::nullopt;
  }
  if (status != static_cast<std::uint8_t>(ReplyStatus::kDone)) return std::nullopt;
  switch (AnswerOf(reply.entry)) {
    case Answer::kNone: break;
    case Answer::kValue: reply.result.value = r.F32(); break;
    case Answer::kCode: reply.result.code = static_cast<std::int32_t>(r.U32()); break;
  }
  if (!r.AtEnd()) return std::nullopt;
  return reply;
}

}  // namespace varno::sim
