// varno-sim, and varno-diag against it in a pseudo-terminal, for the panel's
// browser tests (panel_test.mjs): they drive the tool through this program,
// one command a line on standard input, one answer a line on standard output.
//   type TEXT              types TEXT, \r for Enter, \e for Escape    -> ok
//   wait TEXT              until a row of the screen holds TEXT (10 s) -> shown | not shown SCREEN
//   screen                 -> screen SCREEN
//   stop-emulator          SIGTERM, and its end waited for            -> ok | error ...
//   start-emulator ARG...  a new varno-sim on the same HTTP port      -> ok | error ...
// SCREEN is the screen's rows joined by \n, written as the two characters.
// The first line out is "ready http=ADDR:PORT" (or "error ..."). At the end
// of standard input the tool is ended by its pid and varno-sim by SIGTERM.
// The screen keeps being read between commands, so that the tool never
// waits on a full terminal while the browser acts.
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "emulator_process.h"
#include "pty_session.h"

namespace {

using varno::e2e::Launch;
using varno::e2e::PtySession;
using varno::sim::EmulatorProcess;

void Say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string Unescaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'r' || text[i + 1] == 'e')) {
      out += text[++i] == 'r' ? '\r' : '\x1b';
      continue;
    }
    out += text[i];
  }
  return out;
}

std::string Escaped(const std::string& screen) {
  std::string out;
  for (char c : screen)
    out += c == '\n' ? std::string("\\n") : c == '\\' ? "\\\\" : std::string(1, c);
  return out;
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  auto emulator = std::make_unique<EmulatorProcess>(arguments);
  if (!emulator->started()) {
    Say("error " + Escaped(emulator->error()));
    return 1;
  }
  const std::string http = emulator->http();
  Launch launch;
  launch.journal = false;
  PtySession tool(
      launch.Driver(VARNO_SIMULATOR_PATH).Env("VARNO_SIM_EMULATOR", emulator->platform()));
  if (!tool.started()) {
    Say("error " + Escaped(tool.error()));
    return 1;
  }
  Say("ready http=" + http);

  std::string input;
  for (;;) {
    std::size_t end = input.find('\n');
    if (end == std::string::npos) {
      pollfd ready{STDIN_FILENO, POLLIN, 0};
      if (poll(&ready, 1, 20) <= 0) {
        tool.Drain();
        tool.TakeOutput();  // the screen model keeps what matters
        continue;
      }
      char chunk[4096];
      const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
      if (got <= 0) break;
      input.append(chunk, static_cast<std::size_t>(got));
      continue;
    }
    const std::string line = input.substr(0, end);
    input.erase(0, end + 1);
    const std::string verb = line.substr(0, line.find(' '));
    const std::string rest = line.size() > verb.size() ? line.substr(verb.size() + 1) : "";
    if (verb == "type") {
      Say(tool.Type(Unescaped(rest)) ? "ok" : "error the terminal is closed");
    } else if (verb == "wait") {
      Say(tool.WaitForScreen(rest) ? "shown" : "not shown " + Escaped(tool.ScreenText()));
    } else if (verb == "screen") {
      tool.Drain();
      Say("screen " + Escaped(tool.ScreenText()));
    } else if (verb == "stop-emulator") {
      Say(emulator->Stop(SIGTERM, std::chrono::milliseconds(3000)) ? "ok"
                                                                   : "error varno-sim did not end");
    } else if (verb == "start-emulator") {
      std::vector<std::string> more = {"--http", http};
      for (std::string& word : Words(rest)) more.push_back(word);
      emulator.reset();
      emulator = std::make_unique<EmulatorProcess>(more);
      Say(emulator->started() ? "ok" : "error " + Escaped(emulator->error()));
    } else {
      Say("error no command '" + verb + "'");
    }
  }
  return 0;
}
