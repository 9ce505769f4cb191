#include "platform/terminal_text.h"

#include <gtest/gtest.h>

#include <sstream>

namespace mirel {
namespace {

TEST(TerminalTextTest, ControlsAndBrokenUtf8AreShownEscaped) {
  // Screen clear and a clipboard write (OSC 52) from a display name.
  EXPECT_EQ(EscapeControls("\x1b[2J\x1b]52;c;aGk=\x07"), "\\x1b[2J\\x1b]52;c;aGk=\\x07");
  EXPECT_EQ(EscapeControls("a\tb\nc\rd\x7f"), "a\tb\nc\\x0dd\\x7f");
  // Names also escape line feeds and tabs, which would add rows or columns.
  EXPECT_EQ(EscapeName("a\nb\tc\x1b[2J 码"), "a\\x0ab\\x09c\\x1b[2J 码");
  // C1 controls (CSI is U+009B) are escaped; other text passes untouched.
  EXPECT_EQ(EscapeControls("\xc2\x9b"
                           "31m \xc2\xa0中\xf0\x9f\x98\x80"),
            "\\u009b31m \xc2\xa0中\xf0\x9f\x98\x80");
  // Stray, overlong, surrogate and cut-off sequences show their bytes.
  EXPECT_EQ(EscapeControls("\xff.txt"), "\\xff.txt");
  EXPECT_EQ(EscapeControls("\xc0\xaf \xed\xa0\x80 \xe4\xb8"),
            "\\xc0\\xaf \\xed\\xa0\\x80 \\xe4\\xb8");
}

// A folder name that is not UTF-8 still makes valid JSON, which the
// terminal escaping passes unchanged, and names its bytes.
TEST(TerminalTextTest, JsonStringsAreValidForAnyBytes) {
  const std::string odd = "/t/\xff\xc0\xaf\"q\"\\\x1b\x7f\xc2\x9b中\xe4\xb8";
  const std::string json = JsonString(odd);
  EXPECT_EQ(json, "\"/t/\\udcff\\udcc0\\udcaf\\\"q\\\"\\\\\\u001b\\u007f\\u009b中\\udce4\\udcb8\"");
  EXPECT_EQ(EscapeControls(json), json);
  EXPECT_EQ(JsonString(""), "\"\"");
}

TEST(TerminalTextTest, TheStreamBufferEscapesAcrossWritesButNotItsOwnControls) {
  std::ostringstream sink;
  {
    EscapingStreamBuffer buffer(sink);
    std::ostream out(&buffer);
    // A character split over two writes stays whole.
    out << "\xe4\xb8";
    out << "\xad\x1b" << 'x';
    WriteControl(out, "\r");
    out << "50%";
    WriteControl(out, "\x1b[K");
    out << "\xe4";  // still incomplete when the buffer goes
  }
  EXPECT_EQ(sink.str(), "中\\x1bx\r50%\x1b[K\\xe4");

  std::ostringstream plain;
  WriteControl(plain, "\r");
  EXPECT_EQ(plain.str(), "\r");
}

}  // namespace
}  // namespace mirel
