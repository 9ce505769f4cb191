// Every writer of the store, and its readers, against a disk that fails each
// I/O step in turn: the old file keeps its bytes, the open table is exactly
// as before, and the message names the file and the reason.
#include "support/writer_faults.h"

#include <cerrno>

#include "store/text_file.h"
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
using test::Says;
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
  bool operator==(const Snapshot&) const = default;
};

// The store over a disk whose steps fail on demand.
class StoreFaultsTest : public test::StoreTest {
 protected:
  StoreFaultsTest() : faulty_(test::DiskFs()) {
    store_ = std::make_unique<TableStore>(faulty_, *temp_);
    WriteBytes(table_, test::Utf8(TableText()));
  }
  // The store goes before the faulty disk it was made over.
  ~StoreFaultsTest() override { store_.reset(); }

  // The table open under a filter, its first row deleted: changed.
  void OpenChanged() {
    ASSERT_OK(store_->LoadTable(table_));
    store_->DeleteRow(0);
    ASSERT_OK(store_->ApplyFilter(u"b", false));
  }

  Snapshot Take() const {
    return {Rows(), Visible(), RowMap(), store_->IsOpen(), store_->dirty(), store_->currentPath()};
  }

  // Runs `run` from `reset` as it should go, then once with each I/O step
  // failing: each such run must fail naming the fault, and `check` is given
  // what the store showed before it.
  void FailEach(std::string_view writer, const std::function<void()>& reset,
                const std::function<Status()>& run,
                const std::function<void(const Snapshot&, const Status&)>& check) {
    reset();
    const Snapshot before = Take();
    faulty_.Reset();
    ASSERT_OK(run());
    TallyFaults(writer, ForEachInjectedFault(faulty_, reset, [&](IoStep, int) {
                  Status failed = run();
                  ASSERT_FALSE(failed.IsOk());
                  EXPECT_TRUE(NamesTheFault(failed.message(), faulty_));
                  check(before, failed);
                }));
  }

  std::filesystem::path MakeCompiled(std::string_view name) {
    WriteBytes(dir_ / name, test::CompiledBytes(TableText()));
    return dir_ / name;
  }

  FaultyFileSystem faulty_;
  const std::filesystem::path table_ = dir_ / "table.txt";
};

TEST_F(StoreFaultsTest, FailedSavesKeepTheOldFileAndTheChanges) {
  const std::filesystem::path target = dir_ / "out.txt";
  WriteBytes(target, "old bytes");
  const KeptFiles kept({table_, target});
  for (bool saveAs : {false, true}) {
    auto save = [&] {
      return saveAs ? store_->SaveTable(SaveMode::kSaveAs, target)
                    : store_->SaveTable(SaveMode::kSave);
    };
    auto reset = [&] {
      kept.Restore();
      OpenChanged();
    };
    reset();
    ASSERT_OK(save());
    const std::string saved = ReadBytes(saveAs ? target : table_);
    FailEach(saveAs ? "TableStore save as" : "TableStore save (text)", reset, save,
             [&](const Snapshot& before, const Status&) {
               EXPECT_TRUE(kept.Intact());
               EXPECT_TRUE(Take() == before);
               // The next save, with the disk back, writes what the first one did.
               ASSERT_OK(save());
               EXPECT_EQ(ReadBytes(saveAs ? target : table_), saved);
             });
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
  auto save = [&] {
    asked = 0;
    return store_->SaveTable(SaveMode::kSave, {}, [&](const Status& failure) {
      ++asked;
      askedAbout = failure.message();
      return std::exchange(answer, false);
    });
  };
  reset();
  ASSERT_OK(save());
  ASSERT_EQ(asked, 0);
  const std::string compiled = ReadBytes(ktb);
  ASSERT_NE(compiled, original);

  // The user answers No: the save fails and the compiled table stays.
  int askedFaults = 0;
  FailEach("TableStore save into a compiled table", reset, save,
           [&](const Snapshot& before, const Status& failed) {
             EXPECT_LE(asked, 1);
             if (asked == 1) {
               ++askedFaults;
               EXPECT_EQ(askedAbout, failed.message());
             }
             EXPECT_TRUE(kept.Intact());
             EXPECT_TRUE(test::StrayTemps(temp_->folder()).empty());
             EXPECT_TRUE(Take() == before);
           });
  // Copying the compiled table over the target takes an open, reads, a
  // replacement's open, write, sync and rename: each asks the user.
  EXPECT_GE(askedFaults, 6);

  // The user answers Yes once: a failed replacement is tried again and
  // succeeds; a failure before it is not asked about.
  reset();
  faulty_.Reset();
  ASSERT_OK(save());
  TallyFaults("TableStore save into a compiled table, retried",
              ForEachInjectedFault(faulty_, reset, [&](IoStep, int) {
                answer = true;
                Status saved = save();
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
              }));
}

TEST_F(StoreFaultsTest, FailedGrowthOfTheWorkingFileChangesNothingAndTheStoreGoesOn) {
  auto reset = [&] {
    ASSERT_OK(store_->LoadTable(table_));
    ASSERT_OK(store_->ApplyFilter(u"b", false));
  };
  const std::u16string longEntry = u"比原来长得多的新词条";
  for (bool insert : {true, false}) {
    SCOPED_TRACE(insert ? "InsertRows" : "ModifyRow");
    reset();
    ASSERT_GT(store_->VisibleRowCount(), 2u);
    const uint32_t row = store_->DataRowOf(1);
    auto edit = [&]() -> Status {
      if (insert) return store_->InsertRows(row, {u"新\tbx", u"新词\tby"});
      return store_->RewriteRow(1, row, u"bzz", longEntry);
    };
    FailEach(insert ? "TableStore InsertRows" : "TableStore ModifyRow", reset, edit,
             [&](const Snapshot& before, const Status&) {
               EXPECT_TRUE(Take() == before);
               if (!insert) {
                 // The editor's form of the call fails the same way.
                 faulty_.FailAt(IoStep::kGrow, 0, ENOSPC);
                 EXPECT_EQ(store_->ModifyRow(1, row, u"bzz", longEntry), 1);
                 EXPECT_TRUE(Take() == before);
               }
               // The store still filters, edits and saves.
               ASSERT_OK(store_->ApplyFilter(u"b", false));
               EXPECT_EQ(Take().visible, before.visible);
               ASSERT_OK(edit());
               ASSERT_OK(store_->ApplyFilter(insert ? u"bx" : u"bzz", true));
               EXPECT_EQ(Take().visible, std::vector<std::u16string>{insert ? u"新" : longEntry});
               ASSERT_OK(store_->SaveTable(SaveMode::kSaveAs, dir_ / "after.txt"));
               EXPECT_NE(ReadTextFile(test::DiskFs(), dir_ / "after.txt")
                             ->text.find(insert ? u"新词\tby\r\n" : longEntry + u"\tbzz\r\n"),
                         std::u16string::npos);
             });
  }
}

TEST_F(StoreFaultsTest, RealDiskRefusingTheGrowthLosesNoRow) {
  ASSERT_OK(store_->LoadTable(table_));
  ASSERT_OK(store_->ApplyFilter(u"b", false));
  const Snapshot before = Take();
  const std::u16string big(4000, u'长');
  {
    FileSizeLimit limit(std::filesystem::file_size(temp_->TempPath(kDataFileName)) + 64);
    EXPECT_TRUE(Says(store_->InsertRows(0, {big + u"\tbig"}), "File too large"));
    EXPECT_TRUE(
        Says(store_->RewriteRow(0, store_->DataRowOf(0), u"big", big), "kv_tolvik_data.ktw"));
    EXPECT_TRUE(Take() == before);
  }
  ASSERT_OK(store_->InsertRows(0, {big + u"\tbig"}));
  ASSERT_OK(store_->ApplyFilter(u"big", true));
  EXPECT_EQ(Take().visible, std::vector<std::u16string>{big.substr(0, kRowTextLimit)});
}

TEST_F(StoreFaultsTest, FailedFilterKeepsTheTableOpenAndChanged) {
  auto reset = [&] {
    OpenChanged();
    // A longer row is appended to the working data file, so the next filter
    // makes a new snapshot.
    ASSERT_EQ(store_->ModifyRow(0, store_->DataRowOf(0), u"ba", u"长一些的词条"), 0);
  };
  reset();
  ASSERT_OK(store_->ApplyFilter(u"ba", false));
  const std::vector<std::u16string> filtered = Take().visible;
  FailEach(
      "TableStore ApplyFilter", reset, [&] { return store_->ApplyFilter(u"ba", false).status(); },
      [&](const Snapshot& before, const Status&) {
        // The snapshot from before the change stays listed, marked stale.
        EXPECT_TRUE(Take() == before);
        EXPECT_TRUE(store_->filterStale());
        ASSERT_OK(store_->ApplyFilter(u"ba", false));
        EXPECT_EQ(Take().visible, filtered);
        EXPECT_FALSE(store_->filterStale());
      });
}

TEST_F(StoreFaultsTest, FailedOpenLeavesTheOpenTableOrNoneButNeverHalfOfOne) {
  WriteBytes(dir_ / "other.txt", test::Gbk(u"中\tzh\r\n国\tgg\r\n"));
  struct Open {
    const char* writer;
    std::filesystem::path path;
    bool reload;
  };
  for (const Open& o : {Open{"TableStore LoadTable .txt", dir_ / "other.txt", false},
                        Open{"TableStore LoadTable .ktb", MakeCompiled("other.ktb"), false},
                        Open{"TableStore ReloadSaved", table_, true}}) {
    auto open = [&] {
      return o.reload ? store_->ReloadSaved() : store_->LoadTable(o.path).status();
    };
    OpenChanged();
    ASSERT_OK(open());
    const std::vector<std::u16string> opened = Rows();
    FailEach(
        o.writer, [&] { OpenChanged(); }, open,
        [&](const Snapshot& before, const Status&) {
          const std::filesystem::path& at = faulty_.faultPath();
          if (at != temp_->TempPath(kDataFileName) && at != temp_->TempPath(kFilterFileName)) {
            // The new table could not be read: the open one stays as it was.
            EXPECT_TRUE(Take() == before);
          } else {
            // The old working files had given way already: no table is open,
            // rather than a new one that the caller is told did not open.
            EXPECT_FALSE(store_->IsOpen());
            EXPECT_EQ(store_->VisibleRowCount(), 0u);
            EXPECT_TRUE(store_->currentPath().empty());
          }
          ASSERT_OK(store_->LoadTable(o.path));
          EXPECT_EQ(Rows(), opened);
        });
  }
}

TEST_F(StoreFaultsTest, FailedExportsAndFrequencyOrderLeaveFilesAndTableAlone) {
  const std::filesystem::path target = dir_ / "export.txt";
  const std::filesystem::path frequency = dir_ / "freq.txt";
  WriteBytes(target, "old export");
  WriteBytes(frequency, test::Utf8(u"丁\t3\r\n七\t1\r\n丈\t2\r\n"));
  const KeptFiles kept({target, frequency, table_});
  const std::pair<const char*, std::function<Status()>> writers[] = {
      {"TableStore ExportSingleCharacters",
       [&] { return store_->ExportSingleCharacters(target).status(); }},
      {"TableStore ExportInstantFrequency", [&] { return store_->ExportInstantFrequency(target); }},
      {"TableStore SortByFrequency", [&] { return store_->SortByFrequency(frequency).status(); }},
  };
  for (const auto& [writer, run] : writers) {
    auto reset = [&] {
      kept.Restore();
      ASSERT_OK(store_->LoadTable(table_));
      ASSERT_OK(store_->ApplyFilter(u"c", false));
    };
    FailEach(writer, reset, run, [&](const Snapshot& before, const Status&) {
      EXPECT_TRUE(kept.Intact());
      EXPECT_TRUE(Take() == before);
    });
  }
}

TEST_F(StoreFaultsTest, ShortReadsReadEveryFileExactlyAsWholeReadsDo) {
  const std::u16string text = TableText() + u"𠀀字\tzz\r\nno tab\r\n";
  const std::pair<std::string, std::string> files[] = {
      {"utf8.txt", test::Utf8(text)},       {"utf8-mark.txt", "\xEF\xBB\xBF" + test::Utf8(text)},
      {"utf16le.txt", test::Utf16Le(text)}, {"utf16be.txt", test::Utf16Be(text)},
      {"gbk.txt", test::Gbk(TableText())},  {"ascii.txt", "a\tb\r\nc\td"},
  };
  auto rows = [&](const std::filesystem::path& path, size_t shortReads) {
    faulty_.Reset();
    faulty_.ShortReads(shortReads);
    EXPECT_OK(store_->LoadTable(path));
    return Rows();
  };
  std::vector<std::u16string> unicodeRows;
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    WriteBytes(dir_ / name, bytes);
    const std::vector<std::u16string> whole = rows(dir_ / name, 0);
    // Every Unicode form reads as the same rows.
    if (unicodeRows.empty()) unicodeRows = whole;
    EXPECT_EQ(whole, name.starts_with("utf") ? unicodeRows : whole);
    EXPECT_EQ(rows(dir_ / name, 7), whole);
    faulty_.ShortReads(7);
    Result<std::vector<std::u16string>> read = TableStore::ReadRows(faulty_, dir_ / name);
    ASSERT_OK(read);
    EXPECT_EQ(read.value(), whole);
  }
  EXPECT_EQ(unicodeRows.size(), 301u);
  EXPECT_EQ(unicodeRows.back(), u"𠀀字\tzz");

  // A compiled table: opened, and compiled from a text read in short pieces.
  const std::filesystem::path ktb = MakeCompiled("t.ktb");
  EXPECT_EQ(rows(ktb, 7), rows(ktb, 0));
  faulty_.ShortReads(7);
  ASSERT_OK(CompileTable(faulty_, table_, dir_ / "short.ktb", test::BuiltInClasses(), {}));
  EXPECT_EQ(ReadBytes(dir_ / "short.ktb"), ReadBytes(ktb));
  faulty_.Reset();
}

}  // namespace
}  // namespace mirel
