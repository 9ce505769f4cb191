#include <cstring>

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
    std::string bytes;
    auto classes = CharacterClassTable::BuiltIn();
    EXPECT_OK(CompileTableText(text, *classes, opaque, {}, [&](std::span<const std::byte> piece) {
      bytes.append(reinterpret_cast<const char*>(piece.data()), piece.size());
    }));
    WriteBytes(dir_ / name, bytes);
    return dir_ / name;
  }
  Lines Decompiled(const std::filesystem::path& path) {
    const std::string bytes = ReadBytes(path);
    auto text = CompiledTableToText(std::as_bytes(std::span(bytes.data(), bytes.size())));
    EXPECT_OK(text);
    Lines lines;
    std::u16string_view rest = text.IsOk() ? std::u16string_view(text.value()) : u"";
    while (!rest.empty()) {
      size_t end = rest.find(u"\r\n");
      lines.emplace_back(rest.substr(0, end));
      rest.remove_prefix(end + 2);
    }
    return lines;
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
  EXPECT_EQ(Decompiled(ktb), (Lines{u"好\thao#1", u"中国\tzg"}));
  std::string header;
  for (char k = 1; k <= 34; ++k) header += k;
  EXPECT_EQ(ReadBytes(ktb).substr(36, 34), header);

  // Upper-case extensions work; other tools take the table as text.
  std::filesystem::copy_file(ktb, dir_ / "COPY.KTB");
  ASSERT_OK(store_->LoadTable(dir_ / "COPY.KTB"));
  EXPECT_EQ(Rows(), (Lines{u"好\thao#1", u"中国\tzg"}));
}

TEST_F(CompiledStoreTest, FailedOrEmptySavesLeaveTheCompiledTableAlone) {
  const auto ktb = MakeCompiled(u"中\tzh\r\n国\tgg\r\n");
  const std::string original = ReadBytes(ktb);
  ASSERT_OK(store_->LoadTable(ktb));
  store_->DeleteRow(0);
  store_->DeleteRow(0);
  EXPECT_FALSE(store_->SaveTable(SaveMode::kSave).IsOk());
  EXPECT_TRUE(store_->dirty());
  EXPECT_EQ(ReadBytes(ktb), original);

  // While the compiled table cannot be replaced, the caller is asked to retry.
  ASSERT_OK(store_->LoadTable(ktb));
  store_->DeleteRow(0);
  WriteBytes(dir_ / "blocker", "");
  store_->SetCompiledTarget(CompiledTarget{dir_ / "blocker" / "main.ktb", {}});
  int asked = 0;
  auto retry = [&](const Status& failure) {
    EXPECT_NE(failure.message().find("blocker"), std::string::npos);
    if (++asked == 2) store_->SetCompiledTarget(CompiledTarget{ktb, {}});
    return asked < 3;
  };
  ASSERT_OK(store_->SaveTable(SaveMode::kSave, {}, retry));
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(Decompiled(ktb), (Lines{u"国\tgg"}));

  store_->ModifyRow(0, 0, u"x", u"y");
  store_->SetCompiledTarget(CompiledTarget{dir_ / "blocker" / "main.ktb", {}});
  EXPECT_FALSE(store_->SaveTable(SaveMode::kSave, {}, [](const Status&) { return false; }).IsOk());
  EXPECT_TRUE(store_->dirty());
}

TEST_F(CompiledStoreTest, DamagedCompiledTablesAreRefusedAndTheOpenTableStays) {
  ASSERT_OK(Load(u"a\tb\r\n"));
  const auto ktb = MakeCompiled(u"中\tzh\r\n");
  std::string damaged = ReadBytes(ktb);
  damaged.resize(damaged.size() - 1);
  WriteBytes(dir_ / "damaged.ktb", damaged);
  auto refused = store_->LoadTable(dir_ / "damaged.ktb");
  ASSERT_FALSE(refused.IsOk());
  EXPECT_NE(refused.status().message().find("damaged.ktb"), std::string::npos);
  EXPECT_FALSE(store_->LoadTable(dir_ / "missing.ktb").IsOk());
  WriteBytes(dir_ / "empty.ktb", "");
  EXPECT_FALSE(store_->LoadTable(dir_ / "empty.ktb").IsOk());
  EXPECT_EQ(Rows(), (Lines{u"a\tb"}));
  EXPECT_FALSE(store_->fromCompiled());
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
                                                *CharacterClassTable::BuiltIn(), OpaqueHeader{});
  ASSERT_OK(summary);
  EXPECT_EQ(summary->records, 3u);
  EXPECT_EQ(Decompiled(dir_ / "again.ktb"), (Lines{u"好\thao", u"中\tzh", u"国\tgg"}));

  // A .ktb that holds text is refused by name, and leaves the open table.
  WriteBytes(dir_ / "fake.ktb", test::Utf8(u"好\thao\r\n"));
  for (const Status& refused : {store_->LoadTable(dir_ / "fake.ktb").status(),
                                ReadTableText(test::DiskFs(), dir_ / "fake.ktb").status(),
                                CompileTable(test::DiskFs(), dir_ / "fake.ktb", dir_ / "again.ktb",
                                             *CharacterClassTable::BuiltIn(), OpaqueHeader{})
                                    .status()}) {
    EXPECT_EQ(refused.message(), (dir_ / "fake.ktb").string() +
                                     ": not a compiled table: its first bytes are not a compiled "
                                     "table's header");
  }
  EXPECT_EQ(store_->RowCount(), 3u);
  EXPECT_EQ(Decompiled(dir_ / "again.ktb"), (Lines{u"好\thao", u"中\tzh", u"国\tgg"}));

  // A damaged compiled table under a text name is refused as damaged, not
  // read as text; a plain text keeps reading as text byte for byte.
  std::string cut = ReadBytes(renamed);
  cut.resize(cut.size() - 3);
  WriteBytes(dir_ / "cut.txt", cut);
  EXPECT_NE(ReadTableText(test::DiskFs(), dir_ / "cut.txt")
                .status()
                .message()
                .find("not a readable compiled table"),
            std::string::npos);
  WriteBytes(dir_ / "plain.txt", test::Utf8(u"好\thao\n"));
  text = ReadTableText(test::DiskFs(), dir_ / "plain.txt");
  ASSERT_OK(text);
  EXPECT_EQ(text->text, u"好\thao\n");
}

}  // namespace
}  // namespace mirel
