// What a platform answers once its link is lost: every reading frozen at the
// last value it gave, writes refused, the status word's link-lost bit. The
// model keeps one for its link-drop scenario and for a link cut through
// varno-sim's control API; the stand-in library keeps one of the replies it
// got, for when varno-sim stops answering altogether. One rule for both.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "call.h"

namespace varno::sim {

class FrozenReadings {
 public:
  void Clear();

  // The last reading given for `name`: getValue's and the raw one.
  void KeepValue(std::string_view name, float value) { Keep(values_, name, value); }
  void KeepRaw(std::string_view name, float raw) { Keep(raws_, name, raw); }
  float Value(std::string_view name) const { return Find(values_, name); }
  float Raw(std::string_view name) const { return Find(raws_, name); }

  // Remembers what a call answered while the link was up.
  void Remember(const Call& call, const Result& result);
  // What the call answers now that the link is lost: readings frozen (0 for
  // what was never read), outputs, calibrations and commands refused, the
  // status word `kLinkLost` with the motion bits last read.
  Result WhileLost(const Call& call) const;

 private:
  using Readings = std::map<std::string, float, std::less<>>;
  static void Keep(Readings& readings, std::string_view name, float value);
  static float Find(const Readings& readings, std::string_view name);

  Readings values_, raws_;
  std::map<std::int32_t, float> parameters_;
  std::uint32_t motion_bits_ = 0;
};

}  // namespace varno::sim
