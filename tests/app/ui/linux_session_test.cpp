// The editor over a table of a Linux input method: it opens in the order
// the input method offers it, and a save writes the user copy in the
// table's own format after a prompt naming the file, never the system one.
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/editor_commands.h"
#include "app/ui/main_window.h"
#include "fake_ui_services.h"
#include "support/test_support.h"

namespace mirel {

class LinuxSessionTest : public QObject {
  Q_OBJECT

 private:
  QStringList Entries() const {
    QStringList entries;
    for (uint32_t i = 0; i < store_->RowCount(); ++i) {
      const std::u16string_view row = store_->DataRowText(i);
      entries << QString::fromStdU16String(std::u16string(row.substr(0, row.find(u'\t'))));
    }
    return entries;
  }

  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<TempFolder> temp_;
  std::unique_ptr<TableStore> store_;
  std::unique_ptr<test::FakeUiServices> services_;
  std::unique_ptr<MainWindow> window_;
  LinuxEnvironment env_;
  std::filesystem::path system_;

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    const std::filesystem::path root = dir_->path().toStdString();
    auto temp = TempFolder::OpenIn(root);
    QVERIFY(temp.IsOk());
    temp_ = std::move(temp).value();
    store_ = std::make_unique<TableStore>(test::DiskFs(), *temp_);
    services_ = std::make_unique<test::FakeUiServices>();
    window_ = std::make_unique<MainWindow>(*store_, *services_, root);
    env_ = LinuxEnvironment{root / "home/share", root / "home/config", {root / "sys"}};
    window_->SetLinuxEnvironment(env_);
    system_ = root / "sys/rime-data/rr.dict.yaml";
    std::filesystem::create_directories(system_.parent_path());
    test::WriteBytes(system_, "---\nname: rr\n...\n# rows\n工\ta\t10\n戈\ta\t20\n乙\tb\n");
  }
  void cleanup() {
    window_.reset();
    store_.reset();
    temp_.reset();
    dir_.reset();
  }

  void opensInCandidateOrderAndSavesTheUserCopy() {
    Result<LinuxTableInfo> found = FindLinuxTable(test::DiskFs(), env_, "rr");
    QVERIFY(found.IsOk());
    QVERIFY(window_->OpenLinuxTable(found.value()));
    QCOMPARE(Entries(), (QStringList{"戈", "工", "乙"}));

    // 工 moved first: a save must make Rime offer it first.
    window_->entryList()->selectRow(1);
    QVERIFY(window_->Dispatch(command::kMoveUp));
    QCOMPARE(Entries(), (QStringList{"工", "戈", "乙"}));
    const std::filesystem::path user = env_.dataHome / "fcitx5/rime/rr.dict.yaml";
    services_->yesNo = {false};
    QVERIFY(window_->Dispatch(command::kSave));
    QVERIFY(services_->questions.last().contains(QString::fromStdString(user.string())));
    QVERIFY(!std::filesystem::exists(user));  // the user said no
    QVERIFY(store_->dirty());

    services_->yesNo = {true};
    QVERIFY(window_->Dispatch(command::kSave));
    QCOMPARE(QString::fromStdString(test::ReadBytes(user)),
             QStringLiteral("---\nname: rr\n...\n# rows\n工\ta\t21\n戈\ta\t20\n乙\tb\n"));
    QCOMPARE(QString::fromStdString(test::ReadBytes(system_)),
             QStringLiteral("---\nname: rr\n...\n# rows\n工\ta\t10\n戈\ta\t20\n乙\tb\n"));
    QVERIFY(!store_->dirty());
    QVERIFY(!window_->linuxSession().headerChanged());

    // Opening a plain text table leaves the Linux table behind: saving writes text.
    const std::filesystem::path plain = dir_->filePath(QStringLiteral("plain.txt")).toStdString();
    test::WriteBytes(plain, test::TableBytes({u"甲\ta"}));
    QVERIFY(window_->OpenTable(plain));
    QVERIFY(!window_->linuxSession().active());
  }
};

}  // namespace mirel

QTEST_MAIN(mirel::LinuxSessionTest)
#include "linux_session_test.moc"
