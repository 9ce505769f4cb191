#include "ime/installed_tables.h"

#include <cstring>

#include "support/fake_prefix.h"
#include "support/test_support.h"

namespace mirel {
namespace {

using test::FakePrefix;
using test::ReadBytes;
using test::TableBytes;
using test::WriteBytes;

class InstalledTablesTest : public ::testing::Test {
 protected:
  InstalledTablesTest() : prefix_(dir_ / "prefix") {
    auto temp = TempFolder::OpenIn(dir_.path());
    temp_ = std::move(temp).value();
    prefix_.AddCopy(u"MirelIME3_sp", u"mirelsp", u"Mirel 双拼");
    prefix_.SetMainTable(u"mirelsp", u"好\thao#1\r\n中\tzh\r\n国\tgg\r\n");
    prefix_.WriteRegistry();
  }
  InstalledCopies Copies() {
    auto copies = InstalledCopies::Load(test::DiskFs(), prefix_.Environment());
    EXPECT_OK(copies);
    return std::move(copies).value();
  }

  test::ScratchDir dir_;
  FakePrefix prefix_;
  std::unique_ptr<TempFolder> temp_;
};

TEST_F(InstalledTablesTest, ExportsTheMainTableAndTheUserLibrary) {
  InstalledCopies copies = Copies();
  ASSERT_OK(ExportInstalledTable(copies, u"MirelIME3_sp", false, dir_ / "main.txt", *temp_));
  const std::string main = TableBytes({u"好\thao#1", u"中\tzh", u"国\tgg"});
  EXPECT_EQ(ReadBytes(dir_ / "main.txt"), main);
  // Asked for but missing: the main table alone; empty: the heading alone.
  ASSERT_OK(ExportInstalledTable(copies, u"MirelIME3_sp", true, dir_ / "both.txt", *temp_));
  EXPECT_EQ(ReadBytes(dir_ / "both.txt"), main);

  prefix_.SetUserLibrary(u"mirelsp", {});
  ASSERT_OK(ExportInstalledTable(copies, u"MirelIME3_sp", true, dir_ / "both.txt", *temp_));
  EXPECT_EQ(ReadBytes(dir_ / "both.txt"),
            main + test::Utf16Le(u"//kavo_tolvik 导出的当前正在使用的用户词库\r\n", false));
  // The copy was read through the private temporary folder.
  EXPECT_TRUE(std::filesystem::exists(temp_->TempPath(kInstalledCopyName)));

  // An output that cannot be created is a failure, not a success.
  WriteBytes(dir_ / "blocker", "");
  EXPECT_FALSE(
      ExportInstalledTable(copies, u"MirelIME3_sp", false, dir_ / "blocker" / "x.txt", *temp_)
          .IsOk());
}

TEST_F(InstalledTablesTest, DamagedUserLibrariesAreRefusedWhole) {
  const std::string good = test::UserLibraryBytes({u"你好", u"世界"});
  auto read = [](const std::string& bytes) {
    std::vector<std::u16string> words;
    Status status = ReadUserLibrary(std::as_bytes(std::span(bytes.data(), bytes.size())),
                                    [&](std::u16string_view w) { words.emplace_back(w); });
    return std::make_pair(status.IsOk(), words);
  };
  EXPECT_EQ(read(good), std::make_pair(true, std::vector<std::u16string>{u"你好", u"世界"}));
  for (size_t n = 0; n < good.size(); ++n) {
    auto [ok, words] = read(good.substr(0, n));
    EXPECT_FALSE(ok) << n;
    EXPECT_TRUE(words.empty()) << n;
  }
  std::string lying = good;
  const uint32_t many = 1000000;
  std::memcpy(lying.data() + 8, &many, 4);
  EXPECT_FALSE(read(lying).first);
  std::string farOffset = good;
  const uint32_t far = 0x7FFFFFF0;
  std::memcpy(farOffset.data() + 144, &far, 4);
  EXPECT_FALSE(read(farOffset).first);

  // The export refuses a damaged library and writes nothing.
  prefix_.SetUserLibrary(u"mirelsp", {u"你好"});
  std::string truncated = ReadBytes(prefix_.DataFolder(u"mirelsp") / "usr.ktb");
  truncated.resize(truncated.size() - 1);
  WriteBytes(prefix_.DataFolder(u"mirelsp") / "usr.ktb", truncated);
  InstalledCopies copies = Copies();
  Status refused = ExportInstalledTable(copies, u"MirelIME3_sp", true, dir_ / "out.txt", *temp_);
  ASSERT_FALSE(refused.IsOk());
  EXPECT_NE(refused.message().find("usr.ktb"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out.txt"));
}

TEST_F(InstalledTablesTest, FindsCopiesByKeyOrNameAndReadsTheirSettings) {
  prefix_.AddCopy(u"NoName", u"noname", u"");
  prefix_.SetMainTable(u"noname", u"a\tb\r\n");
  prefix_.WriteRegistry();
  InstalledCopies copies = Copies();
  EXPECT_EQ(FindInstalledCopy(copies, u"mirelime3_SP"), std::u16string(u"MirelIME3_sp"));
  EXPECT_EQ(FindInstalledCopy(copies, u"Mirel 双拼"), std::u16string(u"MirelIME3_sp"));
  EXPECT_EQ(FindInstalledCopy(copies, u"NoName"), std::u16string(u"NoName"));
  EXPECT_FALSE(FindInstalledCopy(copies, u"missing").has_value());

  auto table = ReadInstalledTable(copies, u"MirelIME3_sp", *temp_);
  ASSERT_OK(table);
  EXPECT_EQ(table->mainTable, prefix_.DataFolder(u"mirelsp") / "main.ktb");
  EXPECT_EQ(static_cast<int>(table->settings.bytes[0]), 1);
  EXPECT_EQ(static_cast<int>(table->settings.bytes[33]), 34);
  WriteBytes(prefix_.DataFolder(u"mirelsp") / "main.ktb", "garbage");
  auto damaged = ReadInstalledTable(copies, u"MirelIME3_sp", *temp_);
  ASSERT_FALSE(damaged.IsOk());
  EXPECT_NE(damaged.status().message().find("main.ktb"), std::string::npos);
}

}  // namespace
}  // namespace mirel
