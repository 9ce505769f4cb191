#include "platform/messages.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/paths.h"

namespace mirel {
namespace {

TEST(MessagesTest, FillInPutsValuesWhereTheTextNamesThem) {
  // A translation may put the values in another order than the English.
  EXPECT_EQ(FillIn("{2} at {1}", {"a.txt", "offset"}), "offset at a.txt");
  EXPECT_EQ(FillIn("{1}/{1}", {"x"}), "x/x");
  // Braces that are no placeholder, and numbers without a value, stay.
  EXPECT_EQ(FillIn("{} {0} {3} {12", {"a", "b"}), "{} {0} {3} {12");
  EXPECT_EQ(FillIn("{1}", {"{2}", "b"}), "{2}");
  EXPECT_EQ(FillIn("ends in {", {}), "ends in {");
}

TEST(MessagesTest, EnglishWithoutACatalogueAndInTheCLocale) {
  EXPECT_EQ(Tr("record {1} at offset {2}: {3}", 3, uint64_t{40}, "bad"),
            "record 3 at offset 40: bad");
  EXPECT_EQ(TrN("{1} line without a TAB was left out (line {2})",
                "{1} lines without a TAB were left out (lines {2})", 1, 1, "7"),
            "1 line without a TAB was left out (line 7)");
  EXPECT_EQ(TrN("{1} line without a TAB was left out (line {2})",
                "{1} lines without a TAB were left out (lines {2})", 2, 2, "7, 9"),
            "2 lines without a TAB were left out (lines 7, 9)");
}

// The catalogue the build compiled, as the programs find it beside them.
class ChineseMessagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* language = std::getenv("LANGUAGE")) savedLanguage_ = language;
    SetUpMessages(ProgramFolder());
    ::setenv("LANGUAGE", "zh_CN", 1);
    if (std::setlocale(LC_MESSAGES, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
  }
  void TearDown() override {
    if (savedLanguage_) {
      ::setenv("LANGUAGE", savedLanguage_->c_str(), 1);
    } else {
      ::unsetenv("LANGUAGE");
    }
    std::setlocale(LC_ALL, "C");
  }

 private:
  std::optional<std::string> savedLanguage_;
};

TEST_F(ChineseMessagesTest, EngineMessagesComeInChineseWithTheirValues) {
  EXPECT_EQ(Tr("out of memory"), "内存不足");
  // One form for every count, values in the translation's order.
  EXPECT_EQ(TrN("{1} line without a TAB was left out (line {2})",
                "{1} lines without a TAB were left out (lines {2})", 2, 2, "3, 7"),
            "有 2 行不含 TAB，已略去（第 3, 7 行）");
  EXPECT_EQ(Tr("record {1} at offset {2}: {3}", 3, 40, "x"), "偏移量 40 处的第 3 条记录：x");
  // A text the catalogue does not know comes back as it is.
  EXPECT_EQ(Tr("not in any catalogue {1}", 5), "not in any catalogue 5");
  // SetUpMessages keeps numbers in the C form.
  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
}

TEST_F(ChineseMessagesTest, TheWindowAsksForChineseUnlessLanguageSaysOtherwise) {
  // The user's LANGUAGE wins, even in the C locale, where gettext ignores it.
  ::setenv("LANGUAGE", "en", 1);
  std::setlocale(LC_MESSAGES, "C");
  PreferChineseMessages();
  EXPECT_STREQ(std::getenv("LANGUAGE"), "en");
  EXPECT_EQ(Tr("out of memory"), "out of memory");

  ::unsetenv("LANGUAGE");
  std::setlocale(LC_MESSAGES, "C");
  PreferChineseMessages();
  EXPECT_EQ(Tr("out of memory"), "内存不足");
}

}  // namespace
}  // namespace mirel
