#include "line_file.h"

#include <cstdio>

namespace varno::sim {

LineFile::LineFile(const std::string& path) {
  if (path == "-")
    to_stderr_ = true;
  else if (!path.empty())
    file_.open(path, std::ios::app | std::ios::binary);
}

void LineFile::Append(double seconds, std::string_view text) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%.3f ", seconds);
  std::string line = stamp;
  line.append(text);
  line += '\n';
  if (to_stderr_) {
    std::fputs(line.c_str(), stderr);
  } else if (file_.is_open()) {
    file_ << line;
    file_.flush();
  }
}

}  // namespace varno::sim
