#include "store/compiled_table.h"
#include "store/table_store.h"
#include "support/test_support.h"

namespace mirel {
namespace {

using Lines = std::vector<std::u16string>;
using test::ReadBytes;
using test::WriteBytes;

class CompiledStoreTest : public test::StoreTest {
 protected:
  // Compiles `text` into `name` in the scratch folder, with header values.
  std::filesystem::path MakeCompiled(std::u16string text, std::string_view name = "main.ktb") {
    OpaqueHeader opaque;
    for (size_t k = 0; k < opaque.bytes.size(); ++k) opaque.bytes[k] = std::byte(k + 1);
    WriteBytes(dir_ / name, test::CompiledBytes(std::move(text), opaque));
    return dir_ / name;
  }
  std::u16string Decompiled(const std::filesystem::path& path) {
    const std::string bytes = ReadBytes(path);
    auto text = CompiledTableToText(std::as_bytes(std::span(bytes.data(), bytes.size())));
    EXPECT_OK(text);
    return text.IsOk() ? text.value() : u"";
  }
};

TEST_F(CompiledStoreTest, OpensACompiledTableAndSavesBackIntoIt) {
  const auto ktb = MakeCompiled(u"好\thao#1\r\n中\tzh\r\n国\tgg\r\n");
  const std::string original = ReadBytes(ktb);
  auto loaded = store_->LoadTable(ktb);
  ASSERT_OK(loaded);
  EXPECT_EQ(Rows(), (Lines{u"好\thao#1", u"中\tzh", u"国\tgg"}));
  EXPECT_TRUE(store_->fromCompiled());
  EXPECT_EQ(store_->currentPath(), temp_->TempPath(kCompiledTextName));
  EXPECT_EQ(store_->compiledTarget().path, ktb);

  // Unchanged, a save writes the same bytes back; header values included.
  ASSERT_OK(store_->SaveTable(SaveMode::kSave));
  EXPECT_EQ(ReadBytes(ktb), original);

  store_->ModifyRow(1, 1, u"zg", u"中国");
  store_->DeleteRow(2);
  ASSERT_TRUE(store_->dirty());
  ASSERT_OK(store_->SaveTable(SaveMode::kSave));
  EXPECT_FALSE(store_->dirty());
  EXPECT_EQ(Decompiled(ktb), u"好\thao#1\r\n中国\tzg\r\n");
  std::string header;
  for (char k = 1; k <= 34; ++k) header += k;
  EXPECT_EQ(ReadBytes(ktb).substr(36, 34), header);

  // Upper-case extensions work; other tools take the table as text.
  std::filesystem::copy_file(ktb, dir_ / "COPY.KTB");
  ASSERT_OK(store_->LoadTable(dir_ / "COPY.KTB"));
  EXPECT_EQ(Rows(), (Lines{u"好\thao#1", u"中国\tzg"}));
}

TEST_F(CompiledStoreTest, AnEmptySaveLeavesTheCompiledTableAloneAndAFailedOneIsRetried) {
  const auto ktb = MakeCompiled(u"中\tzh\r\n国\tgg\r\n");
  const std::string original = ReadBytes(ktb);
  ASSERT_OK(store_->LoadTable(ktb));
  store_->DeleteRow(0);
  store_->DeleteRow(0);
  EXPECT_FALSE(store_->SaveTable(SaveMode::kSave).IsOk());
  EXPECT_TRUE(store_->dirty());
  EXPECT_EQ(ReadBytes(ktb), original);

  // The caller is asked again for as long as the replacement fails.
  ASSERT_OK(store_->LoadTable(ktb));
  store_->DeleteRow(0);
  WriteBytes(dir_ / "blocker", "");
  store_->SetCompiledTarget(CompiledTarget{dir_ / "blocker" / "main.ktb", {}});
  int asked = 0;
  ASSERT_OK(store_->SaveTable(SaveMode::kSave, {}, [&](const Status& failure) {
    EXPECT_TRUE(test::Says(failure, "blocker"));
    if (++asked == 2) store_->SetCompiledTarget(CompiledTarget{ktb, {}});
    return true;
  }));
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(Decompiled(ktb), u"国\tgg\r\n");
}

TEST_F(CompiledStoreTest, TheBytesNotTheNameDecideWhatATableIs) {
  // A compiled table named .txt opens as the table it is, and the reader
  // of a table argument, the compiler and every tool see the same rows.
  const auto renamed = MakeCompiled(u"好\thao\r\n中\tzh\r\n国\tgg\r\n", "main.txt");
  auto loaded = store_->LoadTable(renamed);
  ASSERT_OK(loaded);
  EXPECT_EQ(loaded.value(), 3u);
  EXPECT_TRUE(store_->fromCompiled());
  Result<TextBuffer> text = ReadTableText(test::DiskFs(), renamed);
  ASSERT_OK(text);
  EXPECT_EQ(text->text, u"好\thao\r\n中\tzh\r\n国\tgg\r\n");
  Result<CompileSummary> summary = CompileTable(test::DiskFs(), renamed, dir_ / "again.ktb",
                                                test::BuiltInClasses(), OpaqueHeader{});
  ASSERT_OK(summary);
  EXPECT_EQ(summary->records, 3u);
  EXPECT_EQ(Decompiled(dir_ / "again.ktb"), u"好\thao\r\n中\tzh\r\n国\tgg\r\n");

  // A .ktb that holds text is refused by name, and leaves the open table.
  WriteBytes(dir_ / "fake.ktb", test::Utf8(u"好\thao\r\n"));
  for (const Status& refused : {store_->LoadTable(dir_ / "fake.ktb").status(),
                                ReadTableText(test::DiskFs(), dir_ / "fake.ktb").status(),
                                CompileTable(test::DiskFs(), dir_ / "fake.ktb", dir_ / "again.ktb",
                                             test::BuiltInClasses(), OpaqueHeader{})
                                    .status()}) {
    EXPECT_EQ(refused.message(), (dir_ / "fake.ktb").string() +
                                     ": not a compiled table: its first bytes are not a compiled "
                                     "table's header");
  }
  EXPECT_EQ(store_->RowCount(), 3u);
  EXPECT_EQ(Decompiled(dir_ / "again.ktb"), u"好\thao\r\n中\tzh\r\n国\tgg\r\n");

  // A damaged compiled table under a text name is refused as damaged, not
  // read as text; a plain text keeps reading as text byte for byte.
  std::string cut = ReadBytes(renamed);
  cut.resize(cut.size() - 3);
  WriteBytes(dir_ / "cut.txt", cut);
  EXPECT_TRUE(
      test::Says(ReadTableText(test::DiskFs(), dir_ / "cut.txt"), "not a readable compiled table"));
  WriteBytes(dir_ / "plain.txt", test::Utf8(u"好\thao\n"));
  text = ReadTableText(test::DiskFs(), dir_ / "plain.txt");
  ASSERT_OK(text);
  EXPECT_EQ(text->text, u"好\thao\n");
}

}  // namespace
}  // namespace mirel
