#include "driver/library_word_size.h"

#include <cstdint>

namespace {

std::uint32_t LittleEndian(std::string_view bytes, std::size_t at, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = size; i-- > 0;)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

}  // namespace

int PeWordSize(std::string_view header) {
  // The DOS header ("MZ") gives at 0x3C where the PE signature stands; the
  // optional header's magic follows the signature (4 bytes) and the file
  // header (20 bytes).
  constexpr std::size_t kPeOffsetAt = 0x3C;
  constexpr std::size_t kMagicAfterSignature = 4 + 20;
  if (header.size() < kPeOffsetAt + 4 || !header.starts_with("MZ")) return 0;
  const std::size_t pe = LittleEndian(header, kPeOffsetAt, 4);
  if (pe > header.size() || header.size() - pe < kMagicAfterSignature + 2) return 0;
  if (header.substr(pe, 4) != std::string_view("PE\0\0", 4)) return 0;
  switch (LittleEndian(header, pe + kMagicAfterSignature, 2)) {
    case 0x10B: return 32;
    case 0x20B: return 64;
    default: return 0;
  }
}
