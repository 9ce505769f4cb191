#include "ime/registry_file.h"

#include "platform/codepage.h"
#include "support/test_support.h"

namespace mirel {
namespace {

using test::ScratchDir;
using test::Utf16Le;
using test::WriteBytes;

RegistryFile Parsed(std::u16string_view text) {
  Result<RegistryFile> file = RegistryFile::Parse(text);
  EXPECT_OK(file);
  return file.IsOk() ? std::move(file).value() : RegistryFile();
}

std::u16string Text(const RegistryFile& file, std::u16string_view key, std::u16string_view name) {
  return file.StringValue(key, name).value_or(u"<none>");
}

using Names = std::vector<std::u16string>;

TEST(RegistryFileTest, ReadsRegistryEditorExportsInBothEncodings) {
  const std::u16string body =
      u"\r\n; exported for the tests\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\MirelIME3]\r\n\r\n"
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\MirelIME3\\abc]\r\n"
      u"\"IMEName\"=\"中文abc\"\r\n"
      u"\"Path\"=\"C:\\\\Program Files\\\\\\\"q\\\"\"\r\n"
      u"\"Other\"=\"a\\nb\"\r\n"
      u"@=\"默认\"\r\n"
      u"\"Count\"=dword:00000001\r\n"
      u"\"Blob\"=hex:01,02,\\\r\n"
      u"  03\r\n"
      u"\"Lines\"=hex(7):41,00,00,00,00,00\r\n"
      u"[HKEY_CURRENT_USER\\SOFTWARE\\MirelIME3\\user]\r\n\"IMEName\"=\"user\"\r\n"
      u"[-HKEY_LOCAL_MACHINE\\SOFTWARE\\MirelIME3\\gone]\r\n\"IMEName\"=\"gone\"\r\n"
      u"[HKLM\\SOFTWARE\\MirelIME3\\short]\r\n";
  // REG_EXPAND_SZ "%SystemRoot%\中" of the last key, over two lines, in the
  // byte encoding of each version.
  const std::u16string version5 =
      u"\"Expand\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,\\\r\n"
      u"  52,00,6f,00,6f,00,74,00,25,00,5c,00,2d,4e,00,00\r\n";
  const std::u16string version4 =
      u"\"Expand\"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,5c,\\\r\n  d6,d0,00\r\n";

  ScratchDir dir;
  WriteBytes(dir / "five.reg",
             Utf16Le(u"Windows Registry Editor Version 5.00\r\n" + body + version5));
  WriteBytes(dir / "four.reg", EncodeLegacyCodePage(u"REGEDIT4\r\n" + body + version4));
  for (const char* name : {"five.reg", "four.reg"}) {
    SCOPED_TRACE(name);
    Result<RegistryFile> loaded = RegistryFile::Load(test::DiskFs(), dir / name);
    ASSERT_OK(loaded);
    const RegistryFile& file = loaded.value();
    const std::u16string_view abc = u"SOFTWARE\\MirelIME3\\abc";
    EXPECT_EQ(file.SubkeyNames(u"SOFTWARE\\MirelIME3"), (Names{u"abc", u"short"}));
    EXPECT_EQ(Text(file, abc, u"IMEName"), u"中文abc");
    EXPECT_EQ(Text(file, abc, u"Path"), u"C:\\Program Files\\\"q\"");
    EXPECT_EQ(Text(file, abc, u"Other"), u"a\\nb");  // only \\ and \" are escapes here
    EXPECT_EQ(Text(file, abc, u"@"), u"默认");
    EXPECT_EQ(Text(file, abc, u""), u"默认");
    EXPECT_EQ(Text(file, u"SOFTWARE\\MirelIME3\\short", u"Expand"), u"%SystemRoot%\\中");
    // Values of other types are there but are not strings.
    EXPECT_FALSE(file.StringValue(abc, u"Count").has_value());
    EXPECT_FALSE(file.StringValue(abc, u"Blob").has_value());
    EXPECT_FALSE(file.StringValue(abc, u"Lines").has_value());
    // Other hives and deletions name nothing here.
    EXPECT_FALSE(file.HasKey(u"SOFTWARE\\MirelIME3\\user"));
    EXPECT_FALSE(file.HasKey(u"SOFTWARE\\MirelIME3\\gone"));
    EXPECT_FALSE(file.StringValue(u"SOFTWARE\\MirelIME3\\short", u"IMEName").has_value());
  }
}

TEST(RegistryFileTest, ReadsWineSystemReg) {
  const std::u16string text =
      u"WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n"
      u"[Software\\\\MirelIME3] 1733212345\n#time=1d9e0c3b2a1f000\n\n"
      u"[Software\\\\MirelIME3\\\\abc] 1733212345\n#time=1d9e0c3b2a1f000\n"
      u"\"IMEName\"=\"abc\"\n"
      u"\"Escapes\"=\"q\\\"b\\\\s\\nn\\rr\\tt\\x4e2d\\x41g\\33.\"\n"
      u"\"Cut\"=\"a\\0b\"\n"
      u"@=\"default\"\n"
      u"\"Expand\"=str(2):\"%SystemRoot%\\\\x\"\n"
      u"\"Multi\"=str(7):\"a\\0b\\0\"\n"
      u"\"Hex\"=hex(2):41,00,\\\n"
      u"  42,00,00,00\n"
      u"\"Dword\"=dword:00000001\n"
      u"\"Raw\"=\"中文\"\n"
      u"\"Na\\\"me\"=\"quoted name\"\n"
      u"\n[Software\\\\MirelIME3\\\\x\\]y] 1733212399\n\"IMEName\"=\"bracket\"\n";
  ScratchDir dir;
  WriteBytes(dir / "system.reg", test::Utf8(text));
  Result<RegistryFile> loaded = RegistryFile::Load(test::DiskFs(), dir / "system.reg");
  ASSERT_OK(loaded);
  const RegistryFile& file = loaded.value();
  const std::u16string_view abc = u"SOFTWARE\\MirelIME3\\abc";
  EXPECT_EQ(file.SubkeyNames(u"Software\\MirelIME3"), (Names{u"abc", u"x]y"}));
  EXPECT_EQ(Text(file, abc, u"IMEName"), u"abc");
  EXPECT_EQ(Text(file, abc, u"Escapes"), u"q\"b\\s\nn\rr\tt中Ag\x1B.");
  EXPECT_EQ(Text(file, abc, u"Cut"), u"a");
  EXPECT_EQ(Text(file, abc, u"@"), u"default");
  EXPECT_EQ(Text(file, abc, u"Expand"), u"%SystemRoot%\\x");
  EXPECT_EQ(Text(file, abc, u"Hex"), u"AB");
  EXPECT_EQ(Text(file, abc, u"Raw"), u"中文");
  EXPECT_EQ(Text(file, abc, u"Na\"me"), u"quoted name");
  EXPECT_FALSE(file.StringValue(abc, u"Multi").has_value());
  EXPECT_FALSE(file.StringValue(abc, u"Dword").has_value());
  EXPECT_EQ(Text(file, u"Software\\MirelIME3\\x]y", u"IMEName"), u"bracket");

  // The same lines in Wine's user.reg are the user's keys, not the machine's.
  std::u16string user = text;
  user.replace(user.find(u"\\\\Machine"), 9, u"\\\\User\\\\S-1-5-21-0-0-0-1000");
  EXPECT_FALSE(Parsed(user).HasKey(u"Software"));
}

TEST(RegistryFileTest, MatchesKeysAndValuesWithoutCaseAndKeepsTheFilesOrder) {
  const RegistryFile file = Parsed(
      u"regedit4\n"
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\MirelIME3\\Zeta]\n"
      u"\"IMEName\"=\"first\"\n"
      u"[hkey_local_machine\\software\\mirelime3\\alpha\\deeper]\n"
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\MIRELIME3\\ZETA]\n"
      u"\"imename\"=\"second\"\n"
      u"\"Other\"=\"kept\"\n"
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\\\MirelIME3\\Mid\\]\n");
  // Ancestors exist without a line of their own; a key named again keeps its
  // first spelling and place.
  EXPECT_TRUE(file.HasKey(u""));
  EXPECT_TRUE(file.HasKey(u"software"));
  EXPECT_TRUE(file.HasKey(u"Software\\MirelIme3\\ALPHA"));
  EXPECT_TRUE(file.HasKey(u"Software\\MirelIme3\\alpha\\Deeper\\"));
  EXPECT_FALSE(file.HasKey(u"Software\\MirelIme3\\alp"));
  EXPECT_EQ(file.SubkeyNames(u"SOFTWARE\\MirelIME3"), (Names{u"Zeta", u"alpha", u"Mid"}));
  EXPECT_EQ(file.SubkeyNames(u""), (Names{u"SOFTWARE"}));
  EXPECT_TRUE(file.SubkeyNames(u"Software\\Missing").empty());
  // The later line of a name given twice wins; values of both lines stay.
  EXPECT_EQ(Text(file, u"software\\mirelime3\\zeta", u"IMENAME"), u"second");
  EXPECT_EQ(Text(file, u"software\\mirelime3\\zeta", u"other"), u"kept");
  EXPECT_FALSE(file.StringValue(u"software\\mirelime3\\zeta", u"missing").has_value());
  EXPECT_FALSE(file.StringValue(u"software\\mirelime3\\none", u"IMEName").has_value());
}

TEST(RegistryFileTest, SkipsMalformedLinesAndNeverReadsPastTheText) {
  const std::u16string wine =
      u"WINE REGISTRY Version 2\n"
      u"[Software\\\\Good] 1\n"
      u"\"A\"=\"one\"\n"
      u"\"B\"=\"unterminated\n"
      u"\"C\"=hex(2):4x,00\n"
      u"\"D\"=hex(2:41,00\n"
      u"\"E\"=str(2\"x\"\n"
      u"\"F\" \"missing equals\"\n"
      u"\"G\"=\"ends in a dangling \\\n"
      u"\"H\"=hex(2):41,00,\\\n"
      u"\"I\"=\"two\"\n"
      u"garbage line\n"
      u"[Software\\\\Unclosed 1\n"
      u"\"J\"=\"orphan\"\n"
      u"[Software\\\\Good] 2\n"
      u"\"K\"=\"\\x\"\n"
      u"\"L\"=str(2):\"\\";
  const RegistryFile file = Parsed(wine);
  EXPECT_EQ(Text(file, u"Software\\Good", u"A"), u"one");
  for (const char16_t* name : {u"B", u"C", u"D", u"E", u"F", u"G", u"J", u"L"}) {
    EXPECT_FALSE(file.StringValue(u"Software\\Good", name).has_value()) << test::Utf8(name);
  }
  // A cut-off continuation does not swallow the next value.
  EXPECT_EQ(Text(file, u"Software\\Good", u"H"), u"A");
  EXPECT_EQ(Text(file, u"Software\\Good", u"I"), u"two");
  EXPECT_EQ(Text(file, u"Software\\Good", u"K"), u"x");
  EXPECT_EQ(file.SubkeyNames(u"Software"), (Names{u"Good"}));

  // Values after an ignored key line never land in the key before it.
  const RegistryFile regedit = Parsed(
      u"Windows Registry Editor Version 5.00\n"
      u"[HKEY_LOCAL_MACHINE\\Software\\Good]\n"
      u"\"A\"=\"one\"\n"
      u"[HKEY_USERS\\.DEFAULT]\n"
      u"\"A\"=\"users\"\n"
      u"[HKEY_LOCAL_MACHINE\\Software\\Unclosed\n"
      u"\"A\"=\"unclosed\"\n");
  EXPECT_EQ(Text(regedit, u"Software\\Good", u"A"), u"one");
  EXPECT_FALSE(regedit.HasKey(u"Software\\Unclosed"));

  // Every cut of a file parses: no read past its end.
  const std::u16string regeditText =
      u"REGEDIT4\r\n[HKLM\\S\\k]\r\n\"N\\\"\"=\"v\\\\\"\r\n\"X\"=hex(2):41,\\\r\n 00\r\n@=\"d\"";
  for (const std::u16string* text : {&wine, &regeditText}) {
    for (size_t n = 0; n <= text->size(); ++n) {
      Result<RegistryFile> cut = RegistryFile::Parse(std::u16string_view(*text).substr(0, n));
      if (cut.IsOk()) cut->StringValue(u"Software\\Good", u"A");
    }
  }
}

TEST(RegistryFileTest, DeepKeysUpToTheRegistrysLimitAndNoDeeper) {
  auto keyLine = [](size_t parts, std::u16string_view part) {
    std::u16string line = u"[HKEY_LOCAL_MACHINE";
    for (size_t k = 0; k < parts; ++k) line.append(u"\\").append(part);
    return line + u"]\r\n";
  };
  // 512 long parts: every prefix stored as its own string would take ~50 MB.
  const std::u16string longPart(100, u'k');
  const RegistryFile deepest =
      Parsed(u"REGEDIT4\r\n" + keyLine(RegistryFile::kMaxKeyDepth, longPart) + u"@=\"deep\"\r\n");
  std::u16string path = longPart;
  for (size_t k = 1; k < RegistryFile::kMaxKeyDepth; ++k) path.append(u"\\").append(longPart);
  EXPECT_EQ(Text(deepest, path, u"@"), u"deep");
  EXPECT_FALSE(deepest.HasKey(path + u"\\" + longPart));

  // One part more is refused, in every format, naming the line; empty parts
  // do not count.
  std::u16string wineKey(1000, u'\\');
  for (int k = 0; k < 2000; ++k) wineKey.append(u"k\\\\");
  for (const std::u16string& text : {u"REGEDIT4\r\n\r\n[HKLM\\a]\r\n" + keyLine(513, u"k"),
                                     u"WINE REGISTRY Version 2\n\n[a] 1\n[" + wineKey + u"] 1\n"}) {
    Result<RegistryFile> file = RegistryFile::Parse(text);
    ASSERT_FALSE(file.IsOk());
    EXPECT_NE(file.status().message().find("line 4:"), std::string::npos)
        << file.status().message();
    EXPECT_NE(file.status().message().find("512"), std::string::npos);
  }
}

TEST(RegistryFileTest, RefusesFilesOfOtherKinds) {
  for (const char16_t* text :
       {u"", u"\r\n  \n", u"[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n", u"REGEDIT5\r\n",
        u"Windows Registry Editor Version 4.00\r\n", u"WINE REGISTRY Version 1\n"}) {
    Result<RegistryFile> file = RegistryFile::Parse(text);
    EXPECT_FALSE(file.IsOk()) << test::Utf8(text);
  }
  // Blank lines and blanks before the header are fine.
  EXPECT_OK(RegistryFile::Parse(u"\r\n  REGEDIT4  \r\n"));

  // Files that cannot be read or are not registries are named.
  ScratchDir dir;
  WriteBytes(dir / "notes.reg", "just some notes\n");
  for (const char* name : {"notes.reg", "missing.reg"}) {
    Result<RegistryFile> file = RegistryFile::Load(test::DiskFs(), dir / name);
    ASSERT_FALSE(file.IsOk());
    EXPECT_NE(file.status().message().find(name), std::string::npos);
  }
}

}  // namespace
}  // namespace mirel
