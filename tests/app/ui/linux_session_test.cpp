// The editor over a table of a Linux input method: it opens in the order
// the input method offers it, and a save writes the user copy in the
// table's own format after a prompt naming the file, never the system one.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/editor_commands.h"
#include "app/ui/main_window.h"
#include "convert/ui/linux_header_dialog.h"
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

  QString Label(const char* name) const {
    return window_->findChild<QLabel*>(QString::fromLatin1(name))->text();
  }
  void MoveFirstDown() {
    window_->entryList()->selectRow(0);
    QVERIFY(window_->Dispatch(command::kMoveDown));
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
    // A text table has no header: the item is greyed and does nothing.
    QVERIFY(!window_->action(command::kLinuxHeader)->isEnabled());
    const qsizetype told = services_->messages.size();
    window_->Dispatch(command::kLinuxHeader);
    QCOMPARE(services_->messages.size(), told);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
  }

  // A header whose length drops rows says so at 确定, and the save asks
  // with the rows before the user copy loses them.
  void headerThatDropsRowsIsToldBeforeAnythingIsWritten() {
    const std::filesystem::path sys = dir_->path().toStdString() + "/sys";
    std::filesystem::create_directories(sys / "fcitx5/inputmethod");
    std::filesystem::create_directories(sys / "fcitx5/table");
    test::WriteBytes(sys / "fcitx5/inputmethod/tt.conf",
                     "[InputMethod]\nName=TT\nAddon=table\n\n[Table]\nFile=table/tt.main.dict\n");
    Result<linux_table::ReadResult> text = linux_table::ReadFcitxText(
        "KeyCode=abc\nLength=5\n[Data]\na 工\nabcab 戈\nabc 式\nabca 乙\n");
    QVERIFY(text.IsOk());
    Result<std::string> binary = linux_table::WriteFcitxBinary(text->table);
    QVERIFY(binary.IsOk());
    test::WriteBytes(sys / "fcitx5/table/tt.main.dict", binary.value());
    Result<LinuxTableInfo> found = FindLinuxTable(test::DiskFs(), env_, "tt");
    QVERIFY2(found.IsOk(), found.status().message().c_str());
    QVERIFY(window_->OpenLinuxTable(found.value()));
    QCOMPARE(store_->RowCount(), 4u);

    // 返回修改 keeps the dialog open; the second 确定 goes on.
    services_->confirm = {false, true};
    bool stayed = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<LinuxHeaderDialog*>(QApplication::activeModalWidget());
      QVERIFY(dialog != nullptr);
      dialog->editor()->setPlainText(QStringLiteral("KeyCode=abc\nLength=3\n[Data]\n"));
      dialog->Confirm();
      stayed = dialog->isVisible();
      dialog->Confirm();
    });
    window_->Dispatch(command::kLinuxHeader);
    QVERIFY(stayed);
    QCOMPARE(services_->changes.size(), 2);
    QCOMPARE(services_->changes.last().size(), 2);
    QVERIFY(services_->changes.last()[0].startsWith(QStringLiteral("第")));
    QVERIFY(services_->changes.last()[0].contains(QStringLiteral("longer than 3")));
    QVERIFY(services_->questions.last().contains(QStringLiteral("4行中有2行")));
    QCOMPARE(services_->changeButtons.last(), QStringLiteral("仍然使用/返回修改"));
    QVERIFY(window_->linuxSession().headerChanged());

    // The save asks once, with the rows; 取消 writes nothing.
    const std::filesystem::path user = found->userPaths.front();
    services_->confirm = {false};
    window_->Dispatch(command::kSave);
    QVERIFY(!std::filesystem::exists(user));
    QCOMPARE(services_->changes.size(), 3);
    QCOMPARE(services_->changeButtons.last(), QStringLiteral("保存/取消"));
    QVERIFY(services_->questions.last().contains(QString::fromStdString(user.string())));
    QVERIFY(window_->linuxSession().headerChanged());

    services_->confirm = {true};
    services_->messages.clear();
    window_->Dispatch(command::kSave);
    Result<linux_table::ReadResult> saved = linux_table::ReadLinuxTable(test::DiskFs(), user);
    QVERIFY(saved.IsOk());
    QCOMPARE(saved->table.rows.size(), size_t{2});
    QVERIFY(services_->messages.isEmpty());
    QVERIFY(!window_->linuxSession().headerChanged());
  }

  // The table is known by its name everywhere; the list offers the name and
  // reopens the installed table, whose save writes the user copy again.
  void anInstalledTableKeepsItsNameAndReopensFromTheRecentFiles() {
    Result<LinuxTableInfo> found = FindLinuxTable(test::DiskFs(), env_, "rr");
    QVERIFY(found.IsOk());
    QVERIFY(window_->OpenLinuxTable(found.value()));
    QCOMPARE(window_->recentFiles(), QStringList{"rime:rr"});
    QCOMPARE(Label("fileLabel"), QStringLiteral("rime:rr"));
    QVERIFY(window_->windowTitle().endsWith(QStringLiteral(" - rime:rr[*]")));

    const std::filesystem::path plain = dir_->filePath(QStringLiteral("plain.txt")).toStdString();
    test::WriteBytes(plain, test::TableBytes({u"甲\ta"}));
    QVERIFY(window_->OpenTable(plain));
    QCOMPARE(window_->recentMenu()->actions().size(), 2);
    window_->recentMenu()->actions().at(1)->trigger();
    QVERIFY(window_->linuxSession().active());
    QCOMPARE(Entries(), (QStringList{"戈", "工", "乙"}));
    MoveFirstDown();
    services_->yesNo = {true};
    QVERIFY(window_->Dispatch(command::kSave));
    const std::filesystem::path user = env_.dataHome / "fcitx5/rime/rr.dict.yaml";
    QVERIFY(test::ReadBytes(user).starts_with("---\nname: rr\n...\n"));
    QCOMPARE(window_->recentFiles(), (QStringList{"rime:rr", QString::fromStdString(plain)}));
  }

  // Saves, undo and header edits move the marker, the title and the close
  // prompt together.
  void theChangedMarkerFollowsSavesUndoAndHeaderEdits() {
    Result<LinuxTableInfo> found = FindLinuxTable(test::DiskFs(), env_, "rr");
    QVERIFY(found.IsOk());
    QVERIFY(window_->OpenLinuxTable(found.value()));
    MoveFirstDown();
    QCOMPARE(Label("changedLabel"), QStringLiteral("已修改"));
    QVERIFY(window_->isWindowModified());
    services_->yesNo = {true};
    QVERIFY(window_->Dispatch(command::kSave));
    QVERIFY(Label("changedLabel").isEmpty());
    QVERIFY(!window_->isWindowModified());
    // Undone past the save: the table differs from the user copy again.
    QVERIFY(window_->Dispatch(command::kUndo));
    QCOMPARE(Label("changedLabel"), QStringLiteral("已修改"));
    QVERIFY(window_->Dispatch(command::kRedo));
    QVERIFY(!window_->Changed());

    QTimer::singleShot(0, [] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      QVERIFY(dialog != nullptr);
      auto* text = dialog->findChild<QPlainTextEdit*>(QStringLiteral("headerText"));
      text->setPlainText(text->toPlainText().replace("name: rr", "name: rr\nversion: \"2\""));
      dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    QVERIFY(window_->Dispatch(command::kLinuxHeader));
    QCOMPARE(Label("changedLabel"), QStringLiteral("已修改"));
    QVERIFY(window_->isWindowModified());
    services_->yesNoCancel = {UiServices::Answer::kCancel};
    QVERIFY(!window_->Dispatch(command::kClose) || window_->linuxSession().active());
    QCOMPARE(services_->questions.size(), 2);  // the save prompt, then the close prompt
  }

  // A table file of a Linux format opens by its content, whatever its name,
  // and saves back into itself in its own format, without touching any user
  // copy.
  void aLinuxTableFileOpensByContentAndSavesIntoItself() {
    const std::filesystem::path rime =
        dir_->filePath(QStringLiteral("mine.dict.yaml")).toStdString();
    test::WriteBytes(rime, "---\nname: mine\n...\n工\ta\t10\n戈\ta\t20\n");
    QVERIFY(window_->OpenTable(rime));
    QCOMPARE(Entries(), (QStringList{"戈", "工"}));
    QVERIFY(window_->action(command::kLinuxHeader)->isEnabled());
    // Save as offers the table's name, without the format's two suffixes.
    services_->savePicks = {QString()};
    window_->Dispatch(command::kSaveAs);
    QCOMPARE(services_->suggestedNames.last(), dir_->filePath(QStringLiteral("mine.txt")));
    QCOMPARE(window_->recentFiles(), QStringList{QString::fromStdString(rime)});
    QVERIFY(Label("fileLabel").startsWith(QStringLiteral("mine.dict.yaml — ")));
    MoveFirstDown();
    QVERIFY(window_->Dispatch(command::kSave));
    QVERIFY(services_->questions.isEmpty());
    // Rime's own format, the moved row first (its weight is the writer's affair).
    const std::string saved = test::ReadBytes(rime);
    QVERIFY(saved.starts_with("---\nname: mine\n...\n工\ta\t"));
    QVERIFY(saved.ends_with("\n戈\ta\t20\n"));
    QVERIFY(!std::filesystem::exists(env_.dataHome / "fcitx5/rime"));

    // fcitx5's text output is a .txt that no line of holds a TAB.
    const std::filesystem::path fcitx = dir_->filePath(QStringLiteral("out.txt")).toStdString();
    test::WriteBytes(fcitx, "KeyCode=ab\nLength=2\n[Data]\na 工\nb 乙\n");
    QVERIFY(window_->OpenTable(fcitx));
    QCOMPARE(Entries(), (QStringList{"工", "乙"}));
    QVERIFY(window_->linuxSession().active());
    // Nothing the user sees names a working file.
    for (const QString& entry : window_->recentFiles()) {
      QVERIFY(!entry.startsWith(QString::fromStdString(temp_->folder().string())));
    }
  }
};

}  // namespace mirel

QTEST_MAIN(mirel::LinuxSessionTest)
#include "linux_session_test.moc"
