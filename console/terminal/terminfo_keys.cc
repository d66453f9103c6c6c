#include "console/terminal/terminfo_keys.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>

namespace {

// The legacy format's magic number, and that of the format with 32-bit
// numbers.
constexpr int kLegacyMagic = 0432;
constexpr int kWideNumbersMagic = 01036;
// No compiled entry is larger (term(5)); a larger file is none.
constexpr std::size_t kLongestEntry = std::size_t{64} * 1024;

// The predefined string capabilities are known by their place in the entry:
// these runs of places hold the keys, kf11 to kf63 among them from 216 on.
struct KeyNames {
  int first_index;
  std::string_view names;  // separated by blanks
};
constexpr KeyNames kStandardKeys[] = {
    {55,
     "kbs ktbc kclr kctab kdch1 kdl1 kcud1 krmir kel ked kf0 kf1 kf10 kf2 kf3 kf4 kf5 kf6 kf7 "
     "kf8 kf9 khome kich1 kil1 kcub1 kll knp kpp kcuf1 kind kri khts kcuu1"},
    {139, "ka1 ka3 kb2 kc1 kc3"},
    {148, "kcbt"},
    {158,
     "kbeg kcan kclo kcmd kcpy kcrt kend kent kext kfnd khlp kmrk kmsg kmov knxt kopn kopt kprv "
     "kprt krdo kref krfr krpl krst kres ksav kspd kund kBEG kCAN kCMD kCPY kCRT kDC kDL kslt "
     "kEND kEOL kEXT kFND kHLP kHOM kIC kLFT kMSG kMOV kNXT kOPT kPRV kPRT kRDO kRPL kRIT kRES "
     "kSAV kSPD kUND"},
    {355, "kmous"},
};
constexpr int kFirstHighFunctionKey = 216;  // kf11
constexpr int kHighFunctionKeys = 53;       // to kf63

std::string StandardKeyName(int index) {
  if (index >= kFirstHighFunctionKey && index < kFirstHighFunctionKey + kHighFunctionKeys)
    return "kf" + std::to_string(index - kFirstHighFunctionKey + 11);
  for (const KeyNames& run : kStandardKeys) {
    std::string_view names = run.names;
    for (int i = run.first_index; !names.empty(); ++i) {
      const std::size_t blank = names.find(' ');
      if (i == index) return std::string(names.substr(0, blank));
      names.remove_prefix(blank == std::string_view::npos ? names.size() : blank + 1);
    }
  }
  return {};
}

// Reads the entry's parts in order; any read past its end fails.
class Reader {
 public:
  explicit Reader(std::string_view data) : data_(data) {}

  std::optional<int> Short() {
    if (data_.size() - at_ < 2) return std::nullopt;
    const auto low = static_cast<unsigned char>(data_[at_]);
    const auto high = static_cast<unsigned char>(data_[at_ + 1]);
    at_ += 2;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
  }
  // Counts and sizes are never negative.
  std::optional<int> Count() {
    const std::optional<int> value = Short();
    if (!value || *value < 0) return std::nullopt;
    return value;
  }
  std::optional<std::string_view> Take(std::size_t size) {
    if (data_.size() - at_ < size) return std::nullopt;
    const std::string_view part = data_.substr(at_, size);
    at_ += size;
    return part;
  }
  bool Skip(std::size_t size) { return Take(size).has_value(); }
  // Parts after the booleans start on an even offset.
  bool Align() { return at_ % 2 == 0 || Skip(1); }
  bool AtEnd() const { return at_ == data_.size(); }

 private:
  std::string_view data_;
  std::size_t at_ = 0;
};

// The NUL-terminated string at `offset` in `table`; nothing when it is not
// one.
std::optional<std::string_view> StringAt(std::string_view table, int offset) {
  if (offset < 0 || static_cast<std::size_t>(offset) >= table.size()) return std::nullopt;
  const std::size_t end = table.find('\0', static_cast<std::size_t>(offset));
  if (end == std::string_view::npos) return std::nullopt;
  return table.substr(static_cast<std::size_t>(offset), end - static_cast<std::size_t>(offset));
}

// A key string as the terminal sends it: an output delay ("$<5>") is no
// part of it.
std::string WithoutDelays(std::string_view value) {
  std::string bytes;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '$' && i + 1 < value.size() && value[i + 1] == '<') {
      const std::size_t close = value.find('>', i);
      if (close != std::string_view::npos &&
          value.substr(i + 2, close - i - 2).find_first_not_of("0123456789.*/") ==
              std::string_view::npos) {
        i = close;
        continue;
      }
    }
    bytes += value[i];
  }
  return bytes;
}

void AddKey(std::string name, std::string_view value, std::vector<TerminalKey>* keys) {
  if (name.size() < 2 || name[0] != 'k') return;
  std::string bytes = WithoutDelays(value);
  if (!bytes.empty()) keys->push_back({std::move(name), std::move(bytes)});
}

}  // namespace

std::vector<TerminalKey> ParseTerminfoKeys(std::string_view compiled) {
  std::vector<TerminalKey> keys;
  Reader in(compiled);
  const std::optional<int> magic = in.Short();
  if (!magic || (*magic != kLegacyMagic && *magic != kWideNumbersMagic)) return {};
  const std::size_t number_size = *magic == kLegacyMagic ? 2 : 4;
  const std::optional<int> names_size = in.Count();
  const std::optional<int> booleans = in.Count();
  const std::optional<int> numbers = in.Count();
  const std::optional<int> strings = in.Count();
  const std::optional<int> table_size = in.Count();
  if (!names_size || !booleans || !numbers || !strings || !table_size ||
      !in.Skip(static_cast<std::size_t>(*names_size) + static_cast<std::size_t>(*booleans)) ||
      !in.Align() || !in.Skip(static_cast<std::size_t>(*numbers) * number_size)) {
    return {};
  }
  std::vector<int> offsets;
  for (int i = 0; i < *strings; ++i) {
    const std::optional<int> offset = in.Short();
    if (!offset) return {};
    offsets.push_back(*offset);
  }
  const std::optional<std::string_view> table = in.Take(static_cast<std::size_t>(*table_size));
  if (!table) return {};
  for (int i = 0; i < *strings; ++i) {
    if (offsets[static_cast<std::size_t>(i)] < 0) continue;  // absent, or cancelled
    const std::optional<std::string_view> value =
        StringAt(*table, offsets[static_cast<std::size_t>(i)]);
    if (!value) return {};
    AddKey(StandardKeyName(i), *value, &keys);
  }
  if (in.AtEnd()) return keys;

  // Extended capabilities: their values, then all their names, in one table.
  if (!in.Align()) return {};
  const std::optional<int> extended_booleans = in.Count();
  const std::optional<int> extended_numbers = in.Count();
  const std::optional<int> extended_strings = in.Count();
  const std::optional<int> items = in.Count();
  const std::optional<int> extended_size = in.Count();
  if (!extended_booleans || !extended_numbers || !extended_strings || !items || !extended_size ||
      !in.Skip(static_cast<std::size_t>(*extended_booleans)) || !in.Align() ||
      !in.Skip(static_cast<std::size_t>(*extended_numbers) * number_size)) {
    return {};
  }
  // Each string has an offset, each capability a name's ("items" counts only
  // the strings that have values).
  const int named = *extended_booleans + *extended_numbers + *extended_strings;
  std::vector<int> value_offsets;
  std::vector<int> name_offsets;
  for (int i = 0; i < *extended_strings + named; ++i) {
    const std::optional<int> offset = in.Short();
    if (!offset) return {};
    (i < *extended_strings ? value_offsets : name_offsets).push_back(*offset);
  }
  const std::optional<std::string_view> extended =
      in.Take(static_cast<std::size_t>(*extended_size));
  if (!extended) return {};
  // The names start where the last value ends.
  std::size_t names_start = 0;
  for (int offset : value_offsets) {
    if (offset < 0) continue;
    const std::optional<std::string_view> value = StringAt(*extended, offset);
    if (!value) return {};
    names_start = std::max(names_start, static_cast<std::size_t>(offset) + value->size() + 1);
  }
  const std::string_view names = extended->substr(names_start);
  for (int i = 0; i < *extended_strings; ++i) {
    const int value_offset = value_offsets[static_cast<std::size_t>(i)];
    if (value_offset < 0) continue;
    const std::optional<std::string_view> name =
        StringAt(names, name_offsets[static_cast<std::size_t>(named - *extended_strings) +
                                     static_cast<std::size_t>(i)]);
    if (!name) return {};
    AddKey(std::string(*name), *StringAt(*extended, value_offset), &keys);
  }
  return keys;
}

namespace {

// The entry's file in one directory: by its first character, or (on file
// systems that fold case) by that character's code in hexadecimal.
std::optional<std::string> ReadEntry(const std::string& directory, const std::string& term) {
  static constexpr char kHex[] = "0123456789abcdef";
  const auto first = static_cast<unsigned char>(term[0]);
  for (const std::string& part :
       {std::string(1, term[0]), std::string{kHex[first >> 4], kHex[first & 15]}}) {
    std::string path = directory;
    path += '/';
    path += part;
    path += '/';
    path += term;
    std::ifstream file(path, std::ios::binary);
    if (!file) continue;
    std::string data;
    data.resize(kLongestEntry + 1);
    file.read(data.data(), static_cast<std::streamsize>(data.size()));
    data.resize(static_cast<std::size_t>(file.gcount()));
    if (data.size() <= kLongestEntry) return data;
  }
  return std::nullopt;
}

}  // namespace

std::vector<TerminalKey> ReadTerminalKeys(const char* term) {
  if (term == nullptr) return {};
  const std::string name = term;
  // A name, never a path.
  if (name.empty() || name.size() > 255 || name[0] == '.' ||
      name.find_first_of("/\\") != std::string::npos) {
    return {};
  }
  constexpr const char* kSystemDirectories[] = {"/etc/terminfo", "/lib/terminfo",
                                                "/usr/share/terminfo"};
  std::vector<std::string> directories;
  if (const char* own = std::getenv("TERMINFO"); own != nullptr && *own != '\0')
    directories.emplace_back(own);
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
    directories.push_back(std::string(home) + "/.terminfo");
  if (const char* list = std::getenv("TERMINFO_DIRS"); list != nullptr) {
    std::string_view rest = list;
    for (;;) {
      const std::size_t colon = rest.find(':');
      const std::string_view element = rest.substr(0, colon);
      if (element.empty())
        directories.insert(directories.end(), std::begin(kSystemDirectories),
                           std::end(kSystemDirectories));
      else
        directories.emplace_back(element);
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  directories.insert(directories.end(), std::begin(kSystemDirectories),
                     std::end(kSystemDirectories));
  for (const std::string& directory : directories) {
    if (const std::optional<std::string> entry = ReadEntry(directory, name))
      return ParseTerminfoKeys(*entry);
  }
  return {};
}
