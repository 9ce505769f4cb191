// Every writer of the store, and its readers, against a disk that fails each
// I/O step in turn: the old file keeps its bytes, the open table is exactly
// as before, and the message names the file and the reason.
#include "support/writer_faults.h"

#include <signal.h>
#include <sys/resource.h>

#include <cerrno>

#include "store/compiled_table.h"
#include "store/table_store.h"
#include "store/text_file.h"
#include "support/faulty_file_system.h"
#include "support/test_support.h"

namespace mirel {
namespace {

using test::FaultyFileSystem;
using test::FileSizeLimit;
using test::ForEachInjectedFault;
using test::IoStep;
using test::KeptFiles;
using test::NamesTheFault;
using test::ReadBytes;
using test::TallyFaults;
using test::WriteBytes;

// A few hundred rows: one- and two-character entries, two-letter codes.
std::u16string TableText() {
  std::u16string text;
  for (int k = 0; k < 300; ++k) {
    std::u16string entry(1, static_cast<char16_t>(0x4E00 + k));
    if (k % 3 == 0) entry += static_cast<char16_t>(0x4E00 + 300 + k);
    text += entry + u"\t" + static_cast<char16_t>(u'a' + k % 26) +
            static_cast<char16_t>(u'a' + k / 26) + u"\r\n";
  }
  return text;
}

// What a caller of the store can see of the open table.
struct Snapshot {
  std::vector<std::u16string> rows, visible;
  std::vector<uint32_t> rowMap;
  bool open = false, dirty = false;
  std::filesystem::path currentPath;
};

class StoreFaultsTest : public ::testing::Test {
 protected:
  StoreFaultsTest() : faulty_(test::DiskFs()) {
    Result<std::unique_ptr<TempFolder>> temp = TempFolder::OpenIn(dir_.path());
    if (!temp.IsOk()) throw std::runtime_error(temp.status().message());
    temp_ = std::move(temp).value();
    store_ = std::make_unique<TableStore>(faulty_, *temp_);
    WriteBytes(table_, test::Utf8(TableText()));
  }

  // The table open under a filter, its first row deleted: changed.
  void OpenChanged() {
    ASSERT_OK(store_->LoadTable(table_));
    store_->DeleteRow(0);
    ASSERT_OK(store_->ApplyFilter(u"b", false));
  }

  Snapshot Take() const {
    Snapshot s;
    for (uint32_t i = 0; i < store_->RowCount(); ++i) s.rows.emplace_back(store_->DataRowText(i));
    std::u16string text;
    for (uint32_t v = 0; v < store_->VisibleRowCount(); ++v) {
      store_->RowText(v, RowTextKind::kEntry, text);
      s.visible.push_back(text);
      s.rowMap.push_back(store_->DataRowOf(v));
    }
    s.open = store_->IsOpen();
    s.dirty = store_->dirty();
    s.currentPath = store_->currentPath();
    return s;
  }

  void ExpectUnchanged(const Snapshot& before) const {
    const Snapshot now = Take();
    EXPECT_EQ(now.rows, before.rows);
    EXPECT_EQ(now.visible, before.visible);
    EXPECT_EQ(now.rowMap, before.rowMap);
    EXPECT_EQ(now.open, before.open);
    EXPECT_EQ(now.dirty, before.dirty);
    EXPECT_EQ(now.currentPath, before.currentPath);
  }

  // Compiles the table text into `name`.
  std::filesystem::path MakeCompiled(std::string_view name) {
    std::u16string text = TableText();
    std::string bytes;
    auto classes = CharacterClassTable::BuiltIn();
    EXPECT_OK(CompileTableText(text, *classes, {}, {}, [&](std::span<const std::byte> piece) {
      bytes.append(reinterpret_cast<const char*>(piece.data()), piece.size());
    }));
    WriteBytes(dir_ / name, bytes);
    return dir_ / name;
  }

  test::ScratchDir dir_;
  FaultyFileSystem faulty_;
  std::unique_ptr<TempFolder> temp_;
  std::unique_ptr<TableStore> store_;
  const std::filesystem::path table_ = dir_ / "table.txt";
};

TEST_F(StoreFaultsTest, FailedSavesKeepTheOldFileAndTheChanges) {
  const std::filesystem::path target = dir_ / "out.txt";
  WriteBytes(target, "old bytes");
  for (bool saveAs : {false, true}) {
    SCOPED_TRACE(saveAs ? "save as" : "save");
    const KeptFiles kept({table_, target});
    auto save = [&] {
      return saveAs ? store_->SaveTable(SaveMode::kSaveAs, target)
                    : store_->SaveTable(SaveMode::kSave);
    };
    auto reset = [&] {
      kept.Restore();
      OpenChanged();
    };
    reset();
    const Snapshot before = Take();
    faulty_.Reset();
    ASSERT_OK(save());
    const std::string saved = ReadBytes(saveAs ? target : table_);
    const int faults = ForEachInjectedFault(faulty_, reset, [&](IoStep, int) {
      Status failed = save();
      ASSERT_FALSE(failed.IsOk());
      EXPECT_TRUE(NamesTheFault(failed.message(), faulty_));
      EXPECT_TRUE(kept.Intact());
      ExpectUnchanged(before);
      // The next save, with the disk back, writes what the first one did.
      ASSERT_OK(save());
      EXPECT_EQ(ReadBytes(saveAs ? target : table_), saved);
    });
    TallyFaults(saveAs ? "TableStore save as" : "TableStore save (text)", faults);
  }
}

TEST_F(StoreFaultsTest, FailedSaveIntoACompiledTableKeepsItAndAsksOnlyAboutTheReplacement) {
  const std::filesystem::path ktb = MakeCompiled("main.ktb");
  const KeptFiles kept({ktb});
  const std::string original = ReadBytes(ktb);
  auto reset = [&] {
    kept.Restore();
    ASSERT_OK(store_->LoadTable(ktb));
    ASSERT_EQ(store_->ModifyRow(0, store_->DataRowOf(0), u"zz", u"改过的词条"), 0);
    ASSERT_OK(store_->ApplyFilter(u"", false));
  };
  int asked = 0;
  bool answer = false;
  std::string askedAbout;
  auto retry = [&](const Status& failure) {
    ++asked;
    askedAbout = failure.message();
    return std::exchange(answer, false);
  };
  reset();
  const Snapshot before = Take();
  faulty_.Reset();
  ASSERT_OK(store_->SaveTable(SaveMode::kSave, {}, retry));
  ASSERT_EQ(asked, 0);
  const std::string compiled = ReadBytes(ktb);
  ASSERT_NE(compiled, original);

  // The user answers No: the save fails and the compiled table stays.
  int askedFaults = 0;
  const int faults = ForEachInjectedFault(faulty_, reset, [&](IoStep, int) {
    asked = 0;
    Status failed = store_->SaveTable(SaveMode::kSave, {}, retry);
    ASSERT_FALSE(failed.IsOk());
    EXPECT_TRUE(NamesTheFault(failed.message(), faulty_));
    EXPECT_LE(asked, 1);
    if (asked == 1) {
      ++askedFaults;
      EXPECT_EQ(askedAbout, failed.message());
    }
    EXPECT_TRUE(kept.Intact());
    EXPECT_TRUE(test::StrayTemps(temp_->folder()).empty());
    ExpectUnchanged(before);
  });
  TallyFaults("TableStore save into a compiled table", faults);
  // Copying the compiled table over the target takes an open, reads, a
  // replacement's open, write, sync and rename: each asks the user.
  EXPECT_GE(askedFaults, 6);

  // The user answers Yes once: a failed replacement is tried again and
  // succeeds; a failure before it is not asked about.
  reset();
  faulty_.Reset();
  ASSERT_OK(store_->SaveTable(SaveMode::kSave, {}, retry));
  const int retried = ForEachInjectedFault(faulty_, reset, [&](IoStep, int) {
    asked = 0;
    answer = true;
    Status saved = store_->SaveTable(SaveMode::kSave, {}, retry);
    answer = false;
    if (asked == 0) {
      EXPECT_FALSE(saved.IsOk());
      EXPECT_TRUE(kept.Intact());
      EXPECT_TRUE(store_->dirty());
    } else {
      ASSERT_OK(saved);
      EXPECT_EQ(ReadBytes(ktb), compiled);
      EXPECT_FALSE(store_->dirty());
    }
  });
  TallyFaults("TableStore save into a compiled table, retried", retried);
}

TEST_F(StoreFaultsTest, FailedGrowthOfTheWorkingFileChangesNothingAndTheStoreGoesOn) {
  auto reset = [&] {
    ASSERT_OK(store_->LoadTable(table_));
    ASSERT_OK(store_->ApplyFilter(u"b", false));
  };
  const std::vector<std::u16string> inserted = {u"新\tbx", u"新词\tby"};
  const std::u16string longEntry = u"比原来长得多的新词条";
  for (bool insert : {true, false}) {
    SCOPED_TRACE(insert ? "InsertRows" : "ModifyRow");
    reset();
    const Snapshot before = Take();
    ASSERT_FALSE(before.dirty);
    ASSERT_GT(before.visible.size(), 2u);
    const uint32_t row = store_->DataRowOf(1);
    auto edit = [&]() -> Status {
      if (insert) return store_->InsertRows(row, inserted);
      return store_->RewriteRow(1, row, u"bzz", longEntry);
    };
    faulty_.Reset();
    ASSERT_OK(edit());
    const int faults = ForEachInjectedFault(faulty_, reset, [&](IoStep, int) {
      Status failed = edit();
      ASSERT_FALSE(failed.IsOk());
      EXPECT_TRUE(NamesTheFault(failed.message(), faulty_));
      ExpectUnchanged(before);
      if (!insert) {
        // The editor's form of the call fails the same way.
        faulty_.FailAt(IoStep::kGrow, 0, ENOSPC);
        EXPECT_EQ(store_->ModifyRow(1, row, u"bzz", longEntry), 1);
        ExpectUnchanged(before);
      }
      EXPECT_EQ(store_->RowCount(), before.rows.size());
      EXPECT_EQ(store_->VisibleRowCount(), before.visible.size());

      // The store still filters, edits and saves.
      ASSERT_OK(store_->ApplyFilter(u"b", false));
      EXPECT_EQ(Take().visible, before.visible);
      ASSERT_OK(edit());
      ASSERT_OK(store_->ApplyFilter(u"bz", false));
      ASSERT_OK(store_->ApplyFilter(insert ? u"bx" : u"bzz", true));
      std::u16string entry;
      ASSERT_TRUE(store_->RowText(0, RowTextKind::kEntry, entry));
      EXPECT_EQ(entry, insert ? u"新" : longEntry);
      ASSERT_OK(store_->SaveTable(SaveMode::kSaveAs, dir_ / "after.txt"));
      const std::u16string saved = ReadTextFile(test::DiskFs(), dir_ / "after.txt")->text;
      EXPECT_NE(saved.find(insert ? u"新词\tby\r\n" : longEntry + u"\tbzz\r\n"),
                std::u16string::npos);
    });
    TallyFaults(insert ? "TableStore InsertRows" : "TableStore ModifyRow", faults);
  }
}

TEST_F(StoreFaultsTest, RealDiskRefusingTheGrowthLosesNoRow) {
  ASSERT_OK(store_->LoadTable(table_));
  ASSERT_OK(store_->ApplyFilter(u"b", false));
  const Snapshot before = Take();
  const auto dataSize = std::filesystem::file_size(temp_->TempPath(kDataFileName));
  const std::u16string big(4000, u'长');
  {
    FileSizeLimit limit(dataSize + 64);
    Status inserted = store_->InsertRows(0, {big + u"\tbig"});
    ASSERT_FALSE(inserted.IsOk());
    EXPECT_NE(inserted.message().find("File too large"), std::string::npos) << inserted.message();
    Status modified = store_->RewriteRow(0, store_->DataRowOf(0), u"big", big);
    ASSERT_FALSE(modified.IsOk());
    EXPECT_NE(modified.message().find("kv_tolvik_data.ktw"), std::string::npos)
        << modified.message();
    ExpectUnchanged(before);
  }
  ASSERT_OK(store_->InsertRows(0, {big + u"\tbig"}));
  ASSERT_OK(store_->ApplyFilter(u"big", true));
  EXPECT_EQ(Take().visible, std::vector<std::u16string>{big.substr(0, kRowTextLimit)});
  ASSERT_OK(store_->SaveTable(SaveMode::kSaveAs, dir_ / "after.txt"));
  EXPECT_TRUE(
      ReadTextFile(test::DiskFs(), dir_ / "after.txt")->text.starts_with(big + u"\tbig\r\n"));
}

TEST_F(StoreFaultsTest, FailedFilterKeepsTheTableOpenAndChanged) {
  auto reset = [&] {
    OpenChanged();
    // A longer row is appended to the working data file, so the next filter
    // makes a new snapshot.
    ASSERT_EQ(store_->ModifyRow(0, store_->DataRowOf(0), u"ba", u"长一些的词条"), 0);
  };
  reset();
  const Snapshot before = Take();
  faulty_.Reset();
  ASSERT_OK(store_->ApplyFilter(u"ba", false));
  const std::vector<std::u16string> filtered = Take().visible;
  const int faults = ForEachInjectedFault(faulty_, reset, [&](IoStep, int) {
    Result<uint32_t> failed = store_->ApplyFilter(u"ba", false);
    ASSERT_FALSE(failed.IsOk());
    EXPECT_TRUE(NamesTheFault(failed.status().message(), faulty_));
    EXPECT_TRUE(store_->IsOpen());
    EXPECT_TRUE(store_->dirty());
    EXPECT_EQ(Take().rows, before.rows);
    // The snapshot from before the change stays listed, marked stale.
    EXPECT_EQ(Take().visible, before.visible);
    EXPECT_TRUE(store_->filterStale());
    ASSERT_OK(store_->ApplyFilter(u"ba", false));
    EXPECT_EQ(Take().visible, filtered);
    EXPECT_FALSE(store_->filterStale());
  });
  TallyFaults("TableStore ApplyFilter", faults);
}

TEST_F(StoreFaultsTest, FailedOpenLeavesTheOpenTableOrNoneButNeverHalfOfOne) {
  WriteBytes(dir_ / "other.txt", test::Gbk(u"中\tzh\r\n国\tgg\r\n"));
  const std::filesystem::path ktb = MakeCompiled("other.ktb");
  for (const std::filesystem::path& other : {dir_ / "other.txt", ktb}) {
    SCOPED_TRACE(other.filename().string());
    auto reset = [&] { OpenChanged(); };
    reset();
    const Snapshot before = Take();
    faulty_.Reset();
    ASSERT_OK(store_->LoadTable(other));
    const Snapshot opened = Take();
    const int faults = ForEachInjectedFault(faulty_, reset, [&](IoStep, int) {
      Result<uint32_t> failed = store_->LoadTable(other);
      ASSERT_FALSE(failed.IsOk());
      EXPECT_TRUE(NamesTheFault(failed.status().message(), faulty_));
      const std::filesystem::path& at = faulty_.faultPath();
      if (at != temp_->TempPath(kDataFileName) && at != temp_->TempPath(kFilterFileName)) {
        // The new table could not be read: the open one stays as it was.
        ExpectUnchanged(before);
      } else {
        // The old working files had given way already: no table is open,
        // rather than a new one that the caller is told did not open.
        EXPECT_FALSE(store_->IsOpen());
        EXPECT_EQ(store_->VisibleRowCount(), 0u);
        EXPECT_TRUE(store_->currentPath().empty());
      }
      ASSERT_OK(store_->LoadTable(other));
      EXPECT_EQ(Take().rows, opened.rows);
    });
    TallyFaults("TableStore LoadTable " + other.extension().string(), faults);
  }

  // Reading the saved file again fails the same way.
  auto reset = [&] { OpenChanged(); };
  reset();
  const Snapshot before = Take();
  faulty_.Reset();
  ASSERT_OK(store_->ReloadSaved());
  const int faults = ForEachInjectedFault(faulty_, reset, [&](IoStep, int) {
    Status failed = store_->ReloadSaved();
    ASSERT_FALSE(failed.IsOk());
    EXPECT_TRUE(NamesTheFault(failed.message(), faulty_));
    if (faulty_.faultPath() == table_) {
      ExpectUnchanged(before);
    } else {
      EXPECT_FALSE(store_->IsOpen());
    }
  });
  TallyFaults("TableStore ReloadSaved", faults);
}

TEST_F(StoreFaultsTest, FailedExportsAndFrequencyOrderLeaveFilesAndTableAlone) {
  const std::filesystem::path target = dir_ / "export.txt";
  const std::filesystem::path frequency = dir_ / "freq.txt";
  WriteBytes(target, "old export");
  WriteBytes(frequency, test::Utf8(u"丁\t3\r\n七\t1\r\n丈\t2\r\n"));
  const KeptFiles kept({target, frequency, table_});
  struct Writer {
    const char* name;
    std::function<Status()> run;
  };
  const Writer writers[] = {
      {"TableStore ExportSingleCharacters",
       [&] {
         Result<uint32_t> n = store_->ExportSingleCharacters(target);
         return n.IsOk() ? Status::Ok() : n.status();
       }},
      {"TableStore ExportInstantFrequency", [&] { return store_->ExportInstantFrequency(target); }},
      {"TableStore SortByFrequency", [&] { return store_->SortByFrequency(frequency).status(); }},
  };
  for (const Writer& writer : writers) {
    SCOPED_TRACE(writer.name);
    auto reset = [&] {
      kept.Restore();
      ASSERT_OK(store_->LoadTable(table_));
      ASSERT_OK(store_->ApplyFilter(u"c", false));
    };
    reset();
    const Snapshot before = Take();
    faulty_.Reset();
    ASSERT_OK(writer.run());
    const int faults = ForEachInjectedFault(faulty_, reset, [&](IoStep, int) {
      Status failed = writer.run();
      ASSERT_FALSE(failed.IsOk());
      EXPECT_TRUE(NamesTheFault(failed.message(), faulty_));
      EXPECT_TRUE(kept.Intact());
      ExpectUnchanged(before);
    });
    TallyFaults(writer.name, faults);
  }
}

TEST_F(StoreFaultsTest, ShortReadsReadEveryFileExactlyAsWholeReadsDo) {
  const std::u16string text = TableText() + u"𠀀字\tzz\r\nno tab\r\n";
  const std::u16string bmp = TableText();
  const std::pair<std::string, std::string> files[] = {
      {"utf8.txt", test::Utf8(text)},       {"utf8-mark.txt", "\xEF\xBB\xBF" + test::Utf8(text)},
      {"utf16le.txt", test::Utf16Le(text)}, {"utf16be.txt", test::Utf16Be(text)},
      {"gbk.txt", test::Gbk(bmp)},          {"ascii.txt", "a\tb\r\nc\td"},
  };
  auto whole = [&](const std::filesystem::path& path, size_t shortReads) {
    faulty_.Reset();
    faulty_.ShortReads(shortReads);
    std::vector<std::u16string> rows;
    EXPECT_OK(store_->LoadTable(path));
    for (uint32_t i = 0; i < store_->RowCount(); ++i) rows.emplace_back(store_->DataRowText(i));
    return rows;
  };
  auto pieces = [&](const std::filesystem::path& path, size_t shortReads) {
    faulty_.Reset();
    faulty_.ShortReads(shortReads);
    std::u16string joined;
    EXPECT_OK(ReadTextFileInPieces(
        faulty_, path, [&](std::u16string& piece, uint64_t) { joined += piece; }, 64));
    return joined;
  };
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    WriteBytes(dir_ / name, bytes);
    EXPECT_EQ(whole(dir_ / name, 7), whole(dir_ / name, 0));
    EXPECT_EQ(pieces(dir_ / name, 7), pieces(dir_ / name, 0));
    EXPECT_EQ(pieces(dir_ / name, 0), ReadTextFile(test::DiskFs(), dir_ / name)->text);
    faulty_.ShortReads(7);
    Result<std::vector<std::u16string>> rows = TableStore::ReadRows(faulty_, dir_ / name);
    ASSERT_OK(rows);
    EXPECT_EQ(rows.value(), whole(dir_ / name, 0));
  }

  // A compiled table: opened, and compiled from a text read in short pieces.
  const std::filesystem::path ktb = MakeCompiled("t.ktb");
  EXPECT_EQ(whole(ktb, 7), whole(ktb, 0));
  auto classes = CharacterClassTable::BuiltIn();
  faulty_.Reset();
  faulty_.ShortReads(7);
  ASSERT_OK(CompileTable(faulty_, table_, dir_ / "short.ktb", *classes, {}));
  EXPECT_EQ(ReadBytes(dir_ / "short.ktb"), ReadBytes(ktb));
  faulty_.Reset();
}

}  // namespace
}  // namespace mirel
