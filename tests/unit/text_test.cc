// The small pure pieces: line editing, the start report, output encoding,
// screen frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/start_report.h"
#include "console/terminal/console_terminal.h"
#include "console/terminal/line_editor.h"
#include "console/terminal/screen_frame.h"
#include "console/terminal/windows_1252.h"

namespace {

Key Plain(unsigned char c) { return {c, std::nullopt}; }

struct Typed {
  std::string line;
  std::string echo;
  bool done = false;
  bool too_long = false;
};

Typed Type(const std::vector<Key>& keys, std::size_t capacity = 5) {
  LineEditor editor(capacity);
  Typed typed;
  for (const Key& key : keys) {
    typed.done = editor.Press(key, &typed.echo);
    if (typed.done) break;
  }
  typed.line = editor.line();
  typed.too_long = editor.too_long();
  return typed;
}

TEST(LineEditor, EditsTheLineAndEchoesWhatItKeeps) {
  const Key enter = Plain(13);
  const Key backspace = Plain(8);
  const struct {
    std::vector<Key> keys;
    std::string line, echo;
    bool done, too_long;
  } cases[] = {
      {{Plain('a'), Plain('b'), enter}, "ab", "ab\n", true, false},
      {{Plain('a'), Plain('\n')}, "a", "a\n", true, false},
      {{Plain('a'), backspace, Plain('c'), enter}, "c", "a\b \bc\n", true, false},
      {{backspace, enter}, "", "\n", true, false},
      // Special keys (an arrow is E0 'K', whose code is a letter) and
      // Escape are no characters.
      {{Key{0xE0, 'K'}, Key{0x00, 59}, Plain(27), enter}, "", "\n", true, false},
      // Every other byte is kept and shown: control keys in caret notation,
      // a byte beyond ASCII as it came; Backspace erases what it showed.
      {{Plain('1'), Plain(9), Plain('5'), Plain(0), Plain(0xE9), enter},
       std::string("1\t5\0\xE9", 5),
       "1^I5^@\xE9\n",
       true,
       false},
      {{Plain('a'), Plain(3), backspace, backspace}, "", "a^C\b\b  \b\b\b \b", false, false},
      {{Plain('a'), Plain('b')}, "ab", "ab", false, false},
      // Past the capacity: kept whole, judged too long; erasable.
      {{Plain('1'), Plain('2'), Plain('3'), Plain('4'), Plain('5'), Plain('6'), enter},
       "123456",
       "123456\n",
       true,
       true},
      {{Plain('1'), Plain('2'), Plain('3'), Plain('4'), Plain('5'), Plain('6'), backspace, enter},
       "12345",
       "123456\b \b\n",
       true,
       false},
  };
  for (const auto& c : cases) {
    const Typed typed = Type(c.keys);
    EXPECT_EQ(typed.line, c.line);
    EXPECT_EQ(typed.echo, c.echo);
    EXPECT_EQ(typed.done, c.done);
    EXPECT_EQ(typed.too_long, c.too_long) << c.line;
  }
}

TEST(StartReport, ToldInWordsForEveryCode) {
  const struct {
    StartResult result;
    const char* message;  // null: nothing is told
  } cases[] = {
      {-1, "\nError al arrancar VARNO. Codigo error: -1. Fichero de configuracion incorrecto."},
      {-2, "\nError al arrancar VARNO. Codigo error: -2. Error al inicializar SOCKETS del HOST."},
      {-3, "\nError al arrancar VARNO. Codigo error: -3. Imposible conectar con VARNO."},
      {2,
       "\nError al arrancar VARNO. Codigo error: 2. No fue posible conectar con todos o alguno de "
       "los modulos de VARNO."},
      {255,
       "\nError al arrancar VARNO. Codigo error: ff. No fue posible conectar con todos o alguno de "
       "los modulos de VARNO."},
      {INT32_MAX,
       "\nError al arrancar VARNO. Codigo error: 7fffffff. No fue posible conectar con todos o "
       "alguno de los modulos de VARNO."},
      {0, nullptr},
      {-4, nullptr},
      {-7, nullptr},
      {INT32_MIN, nullptr},
  };
  for (const auto& c : cases) {
    const std::optional<std::string> message = StartFailureMessage(c.result);
    if (c.message == nullptr)
      EXPECT_FALSE(message) << c.result;
    else
      EXPECT_EQ(message.value_or("(none)"), c.message);
  }

  EXPECT_EQ(WordSizeMismatchNote(32, 64),
            "La libreria es de 32 bits y este varno-diag es de 64 bits: use el varno-diag de 32 "
            "bits.");
  EXPECT_EQ(WordSizeMismatchNote(64, 32),
            "La libreria es de 64 bits y este varno-diag es de 32 bits: use el varno-diag de 64 "
            "bits.");
  EXPECT_EQ(WordSizeMismatchNote(64, 64), "");
  EXPECT_EQ(WordSizeMismatchNote(0, 64), "");
}

TEST(Windows1252, BecomesUtf8) {
  EXPECT_EQ(Windows1252ToUtf8("plain\n"), "plain\n");
  EXPECT_EQ(Windows1252ToUtf8(kArgumentsMessage),
            "\nError al lanzar la aplicaci\xC3\xB3n. Revise los argumentos de entrada");
  EXPECT_EQ(Windows1252ToUtf8("\x80\x9F\xA0\xFF"), "\xE2\x82\xAC\xC5\xB8\xC2\xA0\xC3\xBF");
}

TEST(ScreenFrame, DrawsAClearWithTheNextTextAndNeverAnEmptyScreen) {
  const std::string begin = "\x1b[?2026h";
  const std::string end = "\x1b[?2026l";
  const std::string home = "\x1b[H";
  const std::string scrollback = "\x1b[3J";
  const std::string rest_of_line = "\x1b[K";
  const std::string rest = "\x1b[J";
  const std::string top_rows =
      "\x1b"
      "7\x1b[1;999H\x1b[1J\x1b"
      "8";
  // A live reading of one unchanged sample: the first clear, then `redraws`
  // more samples.
  const auto samples = [](std::size_t redraws) {
    std::vector<std::string> steps = {"x", "C", "\n v 1"};
    for (std::size_t i = 0; i < redraws; ++i) steps.insert(steps.end(), {"C", "\n v 1"});
    return steps;
  };
  const std::string sample = begin + home + "\n v 1" + top_rows + rest + end;
  // `count` redraws that erase after the sample and rewrite none of it.
  const auto tidy = [&](std::size_t count) {
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i) bytes += begin + "\x1b[2;5H" + rest + end;
    return bytes;
  };
  const std::string tall(45, 'N');  // five rows, below an empty one
  // Steps: "C" a clear, "F" a wait for input, "W" one with a key waiting,
  // "R" the screen may have been written to, "E" something else was
  // written, "D" the screen drawn again; anything else is printed, on a
  // screen 10 columns by 5 rows.
  const struct {
    std::vector<std::string> steps;
    std::string bytes;
  } cases[] = {
      {{"ab"}, "ab"},
      // A screen's first clear; each row is erased after its new text.
      {{"C", "ab\ncd"}, begin + home + scrollback + "ab" + rest_of_line + "\ncd" + rest + end},
      {{"x", "F", "C", "\ny"}, "x" + begin + home + scrollback + "\ny" + top_rows + rest + end},
      {{"x", "C", "C", "y"}, "x" + begin + home + scrollback + "y" + rest + end},
      {{"C", "F"}, begin + home + scrollback + rest + end},
      // A row filled exactly keeps its last character.
      {{"C", "0123456789\n0123456789"},
       begin + home + scrollback + "012345678" + rest_of_line + "9\n012345678" + rest + "9" + end},
      // A live reading: the clear after a sample keeps the scrollback; the
      // next sample rewrites what changed, nothing when nothing did, and
      // erases below only where the last reached further.
      {{"F", "\n v 1.5", "C", "\n v 1.7", "C", "\n v 1.7", "C", "\n v 1.75", "C", "\n v 2"},
       "\n v 1.5" + begin + home + "\n v 1.7" + top_rows + rest + end + begin + "\x1b[2;7H5" +
           rest_of_line + end + begin + "\x1b[2;4H2" + rest_of_line + end},
      {{"x", "C", "12345678901", "C", "12345678902", "C", "1"},
       "x" + begin + home + "12345678901" + rest + end + begin + "\x1b[1;10H02" + rest_of_line +
           end + begin + "\x1b[1;2H" + rest + end},
      // A key already waiting: no wait, so the clear is drawn with the next
      // text, in full, as the key may have been echoed.
      {{"x", "C", "W", "y"}, "x" + begin + home + "y" + rest + end},
      // A text taller than the screen: drawn from its first row that stays
      // on the screen, so that nothing scrolls into the scrollback, and then
      // by difference.
      {{"x", "C", "a\nb\nc\nd\ne\nf", "C", "a\nb\nc\nd\ne\ng"},
       "x" + begin + home + "b\x1b[K\nc\x1b[K\nd\x1b[K\ne\x1b[K\nf" + rest + end + begin +
           "\x1b[5;1Hg" + rest_of_line + end},
      {{"x", "C", "\n" + tall, "C", "\n" + tall}, "x" + begin + home + tall + rest + end},
      // Every so often a redraw in place erases what stands after the text;
      // after the screen may have been written to, it is whole again: what
      // else was written is drawn over.
      {samples(kTidyEvery - 1), "x" + sample},
      {samples(3 * kTidyEvery), "x" + sample + tidy(3)},
      {{"x", "C", "\n v 1", "C", "\n v 1", "R", "C", "\n v 1"}, "x" + sample + sample},
      // What the screen showed since the last clear, drawn again; unknown once
      // something else was written.
      {{"C", "ab", "\ncd", "F", "D"},
       begin + home + scrollback + "ab" + rest + end + "\ncd" + begin + home + "ab" + rest_of_line +
           "\ncd" + rest + end},
      {{"C", "ab", "F", "E", "D"}, begin + home + scrollback + "ab" + rest + end},
  };
  for (const auto& c : cases) {
    ScreenFrame frame;
    std::string bytes;
    for (const std::string& step : c.steps) {
      if (step == "C")
        frame.Clear();
      else if (step == "R")
        frame.RepaintWhole();
      else if (step == "E")
        frame.Forget();
      else if (step == "D")
        bytes += frame.Redraw(ScreenSize{10, 5});
      else if (step == "F" || step == "W")
        bytes += frame.Flush(step == "W");
      else
        bytes += frame.Print(step, ScreenSize{10, 5});
    }
    EXPECT_EQ(bytes, c.bytes) << testing::PrintToString(c.steps);
  }
}

}  // namespace

namespace {

TEST(LineEditor, BackspaceErasesAWholeUtf8Character) {
  // "-é" then a pasted minus sign (U+2212) and a stray continuation byte.
  const std::vector<unsigned char> typed = {'-', 0xC3, 0xA9, 0xE2, 0x88, 0x92, 0x80};
  const struct {
    std::size_t erased;
    std::string line;
  } cases[] = {{1, "-\xC3\xA9\xE2\x88\x92"}, {2, "-\xC3\xA9"}, {3, "-"}, {4, ""}};
  for (const auto& c : cases) {
    LineEditor editor(49, LineEditor::Encoding::kUtf8);
    std::string echo;
    for (unsigned char byte : typed) editor.Press(Plain(byte), &echo);
    for (std::size_t i = 0; i < c.erased; ++i) editor.Press(Plain(8), &echo);
    EXPECT_EQ(editor.line(), c.line) << c.erased;
  }
}

TEST(ReadLineOfBytes, TakesOneLineAndNothingPastIt) {
  const struct {
    std::string input;
    LineStatus status;
    std::string line, left;
  } cases[] = {
      {"abc\nrest", LineStatus::kOk, "abc", "rest"},
      {"\n", LineStatus::kOk, "", ""},
      {"a\r\nb", LineStatus::kOk, "a", "b"},
      {"a\rb\n", LineStatus::kOk, "a\rb", ""},
      {"12345\r\n", LineStatus::kOk, "12345", ""},  // the CR is no character
      {"123456\nx", LineStatus::kTooLong, "12345", "x"},
      {"\x01\xff\n", LineStatus::kOk, "\x01\xff", ""},
      {"abc", LineStatus::kLeave, "abc", ""},  // input ended before the line did
      {"", LineStatus::kLeave, "", ""},
  };
  for (const auto& c : cases) {
    std::string input = c.input;
    std::string line;
    const LineStatus status = ReadLineOfBytes(
        [&]() -> std::optional<unsigned char> {
          if (input.empty()) return std::nullopt;
          const auto byte = static_cast<unsigned char>(input.front());
          input.erase(0, 1);
          return byte;
        },
        &line, 5);
    EXPECT_EQ(status, c.status) << c.input;
    if (status != LineStatus::kLeave) {
      EXPECT_EQ(line, c.line) << c.input;
    }
    EXPECT_EQ(input, c.left) << c.input;
  }
}

}  // namespace
