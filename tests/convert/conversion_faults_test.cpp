// The conversions against a disk that fails each of their I/O steps in turn:
// the old output keeps its bytes, no temporary file is left, and the message
// names the file and the reason.
#include "convert/common_conversion.h"
#include "convert/rule_conversion.h"
#include "support/faulty_file_system.h"
#include "support/test_support.h"
#include "support/writer_faults.h"

namespace mirel {
namespace {

using test::KeptFiles;
using test::WriteBytes;

class ConversionFaultsTest : public ::testing::Test {
 protected:
  ConversionFaultsTest() : faulty_(test::DiskFs()) {
    Result<std::unique_ptr<TempFolder>> temp = TempFolder::OpenIn(dir_.path());
    if (!temp.IsOk()) throw std::runtime_error(temp.status().message());
    temp_ = std::move(temp).value();
    WriteBytes(output_, "old output");
  }

  test::ScratchDir dir_;
  test::FaultyFileSystem faulty_;
  std::unique_ptr<TempFolder> temp_;
  const std::filesystem::path output_ = dir_ / "out.txt";
};

TEST_F(ConversionFaultsTest, EveryCommonFormatThroughTheIntermediateFile) {
  const std::u16string kuji = u"a 啊 阿\r\nb 吧\r\nab 阿爸\r\n";
  // The intermediate file is a scratch file of the private folder: it may
  // stay, but no half-written replacement of it may.
  const KeptFiles kept({output_});
  int total = 0;
  for (TableFormat to : {TableFormat::kWindows, TableFormat::kSogou, TableFormat::kQq,
                         TableFormat::kJiajia, TableFormat::kMirel}) {
    SCOPED_TRACE(static_cast<int>(to));
    total += test::FailEachStep(faulty_, kept, [&]() -> Status {
      Result<uint64_t> n =
          ConvertCommonFormat(faulty_, kuji, TableFormat::kKuji, to, output_, *temp_);
      EXPECT_TRUE(test::StrayTemps(temp_->folder()).empty());
      return n.IsOk() ? Status::Ok() : n.status();
    });
  }
  // And back into the one target left.
  total += test::FailEachStep(faulty_, kept, [&]() -> Status {
    Result<uint64_t> n =
        ConvertCommonFormat(faulty_, u"a,1=啊\r\na,2=阿\r\nb,1=吧\r\n", TableFormat::kSogou,
                            TableFormat::kKuji, output_, *temp_);
    EXPECT_TRUE(test::StrayTemps(temp_->folder()).empty());
    return n.IsOk() ? Status::Ok() : n.status();
  });
  test::TallyFaults("ConvertCommonFormat (all six targets)", total);
}

TEST_F(ConversionFaultsTest, RuleAndLayoutConversions) {
  WriteBytes(dir_ / "src.txt", test::Utf16Be(u"a\t啊\r\nb\t吧\r\n"));
  WriteBytes(dir_ / "fields.txt", test::Gbk(u"a 啊 阿\r\nb 吧\r\n"));
  const KeptFiles kept({output_, dir_ / "src.txt", dir_ / "fields.txt"});
  test::TallyFaults("RunRuleConversion", test::FailEachStep(faulty_, kept, [&]() -> Status {
                      Result<uint64_t> n = RunRuleConversion(
                          faulty_, dir_ / "src.txt",
                          u"<all.0><tab.1><all.0><row.2>==><3><t><1><r>\r\n", output_);
                      return n.IsOk() ? Status::Ok() : n.status();
                    }));
  test::TallyFaults("RunLayoutConversion", test::FailEachStep(faulty_, kept, [&]() -> Status {
                      Result<uint64_t> n =
                          RunLayoutConversion(faulty_, dir_ / "fields.txt", u"空格",
                                              Layout::kManyEntriesLeftCode, output_);
                      return n.IsOk() ? Status::Ok() : n.status();
                    }));
}

}  // namespace
}  // namespace mirel
