// A text file that takes whole timestamped lines, written through at once so
// that nothing is lost if the process is killed mid-session.
#pragma once

#include <fstream>
#include <string>
#include <string_view>

namespace varno::sim {

class LineFile {
 public:
  // "-" means standard error; an empty path, or one that cannot be opened,
  // means nowhere.
  explicit LineFile(const std::string& path);

  bool IsOpen() const { return to_stderr_ || file_.is_open(); }

  // Appends "SECONDS TEXT\n" with the time to the millisecond.
  void Append(double seconds, std::string_view text);

 private:
  std::ofstream file_;
  bool to_stderr_ = false;
};

}  // namespace varno::sim
