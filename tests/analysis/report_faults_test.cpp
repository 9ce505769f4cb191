// The statistics report against a disk that fails each of its I/O steps: the
// old report keeps its bytes and the open table is not touched.
#include "analysis/statistics.h"
#include "support/faulty_file_system.h"
#include "support/test_support.h"
#include "support/writer_faults.h"

namespace mirel {
namespace {

TEST(ReportFaultsTest, FailedReportLeavesTheOldReportAndTheChangedTable) {
  test::ScratchDir dir;
  test::FaultyFileSystem faulty(test::DiskFs());
  Result<std::unique_ptr<TempFolder>> temp = TempFolder::OpenIn(dir.path());
  ASSERT_OK(temp);
  TableStore store(faulty, *temp.value());
  test::WriteBytes(dir / "t.txt", test::Utf8(u"啊\ta\r\n阿\ta\r\n吖\ta\r\n爱\tai\r\n"));
  const std::filesystem::path report = dir.path() / std::filesystem::path(u"码表信息统计文档.txt");
  test::WriteBytes(report, "old report");
  const test::KeptFiles kept({report, dir / "t.txt"});
  auto reset = [&] {
    ASSERT_OK(store.LoadTable(dir / "t.txt"));
    store.DeleteRow(3);
  };
  const int faults = test::FailEachStep(
      faulty, kept,
      [&] {
        Status written = WriteStatisticsReport(store, report);
        EXPECT_TRUE(store.IsOpen());
        EXPECT_TRUE(store.dirty());
        EXPECT_EQ(store.RowCount(), 3u);
        return written;
      },
      reset);
  test::TallyFaults("WriteStatisticsReport", faults);
}

}  // namespace
}  // namespace mirel
