// Exporting an installed copy's tables against a disk that fails each I/O
// step in turn: the old export keeps its bytes, the copy's own files are
// never touched, and the message names the file and the reason.
#include "ime/installed_tables.h"
#include "support/fake_prefix.h"
#include "support/faulty_file_system.h"
#include "support/test_support.h"
#include "support/writer_faults.h"

namespace mirel {
namespace {

TEST(ExportFaultsTest, ExportOfTheMainTableAndTheUserLibrary) {
  test::ScratchDir dir;
  test::FakePrefix prefix(dir / "prefix");
  prefix.AddCopy(u"MirelIME3_sp", u"mirelsp", u"Mirel 双拼");
  prefix.SetMainTable(u"mirelsp", u"好\thao#1\r\n中\tzh\r\n国\tgg\r\n");
  prefix.SetUserLibrary(u"mirelsp", {u"你好", u"世界"});
  prefix.WriteRegistry();
  Result<std::unique_ptr<TempFolder>> temp = TempFolder::OpenIn(dir.path());
  ASSERT_OK(temp);
  test::FaultyFileSystem faulty(test::DiskFs());
  Result<InstalledCopies> copies = InstalledCopies::Load(faulty, prefix.Environment());
  ASSERT_OK(copies);

  const std::filesystem::path target = dir / "export.txt";
  test::WriteBytes(target, "old export");
  const std::filesystem::path data = prefix.DataFolder(u"mirelsp");
  const test::KeptFiles kept({target, data / "main.ktb", data / "usr.ktb"});
  for (bool userLibrary : {false, true}) {
    const int faults = test::FailEachStep(faulty, kept, [&] {
      return ExportInstalledTable(copies.value(), u"MirelIME3_sp", userLibrary, target,
                                  *temp.value());
    });
    test::TallyFaults(
        userLibrary ? "ExportInstalledTable with the user library" : "ExportInstalledTable",
        faults);
  }
}

}  // namespace
}  // namespace mirel
