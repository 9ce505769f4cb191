// The editor over a table of a Linux input method: it opens in the order
// the input method offers it, and a save writes the user copy in the
// table's own format after a prompt naming the file, never the system one.
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>

#include "app/editor_commands.h"
#include "convert/ui/linux_header_dialog.h"
#include "window_fixture.h"

namespace mirel {

class LinuxSessionTest : public QObject, public test::WindowFixture {
  Q_OBJECT

 private:
  void MoveFirstDown() {
    window_->entryList()->selectRow(0);
    QVERIFY(window_->Dispatch(command::kMoveDown));
  }
  void OpenRr() {
    Result<LinuxTableInfo> found = FindLinuxTable(test::DiskFs(), env_, "rr");
    QVERIFY(found.IsOk());
    QVERIFY(window_->OpenLinuxTable(found.value()));
  }

  LinuxEnvironment env_;
  std::filesystem::path system_;

 private slots:
  void init() {
    WindowFixture::Open();
    const std::filesystem::path root = dir_->path().toStdString();
    env_ = LinuxEnvironment{root / "home/share", root / "home/config", {root / "sys"}};
    window_->SetLinuxEnvironment(env_);
    system_ = root / "sys/rime-data/rr.dict.yaml";
    std::filesystem::create_directories(system_.parent_path());
    test::WriteBytes(system_, "---\nname: rr\n...\n# rows\n工\ta\t10\n戈\ta\t20\n乙\tb\n");
  }
  void cleanup() { WindowFixture::Close(); }

  void opensInCandidateOrderAndSavesTheUserCopy() {
    OpenRr();
    QCOMPARE(Entries(), (QStringList{"戈", "工", "乙"}));

    // 工 moved first: a save must make Rime offer it first.
    window_->entryList()->selectRow(1);
    QVERIFY(window_->Dispatch(command::kMoveUp));
    const std::filesystem::path user = env_.dataHome / "fcitx5/rime/rr.dict.yaml";
    services_->yesNo = {false};
    QVERIFY(window_->Dispatch(command::kSave));
    QVERIFY(services_->questions.last().contains(QString::fromStdString(user.string())));
    QVERIFY(!std::filesystem::exists(user));  // the user said no
    QVERIFY(store_->dirty());

    services_->yesNo = {true};
    QVERIFY(window_->Dispatch(command::kSave));
    QCOMPARE(QString::fromStdString(test::ReadBytes(user)),
             u"---\nname: rr\n...\n# rows\n工\ta\t21\n戈\ta\t20\n乙\tb\n"_s);
    QCOMPARE(QString::fromStdString(test::ReadBytes(system_)),
             u"---\nname: rr\n...\n# rows\n工\ta\t10\n戈\ta\t20\n乙\tb\n"_s);
    QVERIFY(!store_->dirty());
    QVERIFY(!window_->linuxSession().headerChanged());

    // The table is known by its name everywhere.
    QCOMPARE(Label("fileLabel"), u"rime:rr"_s);
    QVERIFY(window_->windowTitle().endsWith(u" - rime:rr[*]"_s));

    // Opening a plain text table leaves the Linux table behind: saving writes text.
    const std::filesystem::path plain = At("plain.txt").toStdString();
    test::WriteBytes(plain, test::TableBytes({u"甲\ta"}));
    QVERIFY(window_->OpenTable(plain));
    QVERIFY(!window_->linuxSession().active());
    QCOMPARE(window_->recentFiles(), (QStringList{QString::fromStdString(plain), "rime:rr"}));
    // A text table has no header: the item is greyed and does nothing.
    QVERIFY(!window_->action(command::kLinuxHeader)->isEnabled());
    const qsizetype told = services_->messages.size();
    window_->Dispatch(command::kLinuxHeader);
    QCOMPARE(services_->messages.size(), told);
    QVERIFY(QApplication::activeModalWidget() == nullptr);

    // The recent list reopens the installed table, now from its user copy.
    window_->recentMenu()->actions().at(1)->trigger();
    QVERIFY(window_->linuxSession().active());
    QCOMPARE(Entries(), (QStringList{"工", "戈", "乙"}));
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
    test::OnNextDialog<LinuxHeaderDialog>([&](LinuxHeaderDialog* dialog) {
      dialog->editor()->setPlainText(u"KeyCode=abc\nLength=3\n[Data]\n"_s);
      dialog->Confirm();
      stayed = dialog->isVisible();
      dialog->Confirm();
    });
    window_->Dispatch(command::kLinuxHeader);
    QVERIFY(stayed);
    QCOMPARE(services_->changes.size(), 2);
    QCOMPARE(services_->changes.last().size(), 2);
    QVERIFY(services_->changes.last()[0].startsWith(u"第"_s));
    QVERIFY(services_->changes.last()[0].contains(u"longer than 3"_s));
    QVERIFY(services_->questions.last().contains(u"4行中有2行"_s));
    QCOMPARE(services_->changeButtons.last(), u"仍然使用/返回修改"_s);
    QVERIFY(window_->linuxSession().headerChanged());

    // The save asks once, with the rows; 取消 writes nothing.
    const std::filesystem::path user = found->userPaths.front();
    services_->confirm = {false};
    window_->Dispatch(command::kSave);
    QVERIFY(!std::filesystem::exists(user));
    QCOMPARE(services_->changes.size(), 3);
    QCOMPARE(services_->changeButtons.last(), u"保存/取消"_s);
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

  // Saves, undo and header edits move the marker, the title and the close
  // prompt together.
  void theChangedMarkerFollowsSavesUndoAndHeaderEdits() {
    OpenRr();
    MoveFirstDown();
    QCOMPARE(Label("changedLabel"), u"已修改"_s);
    QVERIFY(window_->isWindowModified());
    services_->yesNo = {true};
    QVERIFY(window_->Dispatch(command::kSave));
    QVERIFY(Label("changedLabel").isEmpty());
    QVERIFY(!window_->isWindowModified());
    // Undone past the save: the table differs from the user copy again.
    QVERIFY(window_->Dispatch(command::kUndo));
    QCOMPARE(Label("changedLabel"), u"已修改"_s);
    QVERIFY(window_->Dispatch(command::kRedo));
    QVERIFY(!window_->Changed());

    test::OnNextDialog([](QDialog* dialog) {
      auto* text = dialog->findChild<QPlainTextEdit*>(u"headerText"_s);
      text->setPlainText(text->toPlainText().replace("name: rr", "name: rr\nversion: \"2\""));
      dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    QVERIFY(window_->Dispatch(command::kLinuxHeader));
    QCOMPARE(Label("changedLabel"), u"已修改"_s);
    QVERIFY(window_->isWindowModified());
    services_->yesNoCancel = {UiServices::Answer::kCancel};
    QVERIFY(!window_->Dispatch(command::kClose) || window_->linuxSession().active());
    QCOMPARE(services_->questions.size(), 2);  // the save prompt, then the close prompt
  }

  // A table file of a Linux format opens by its content, whatever its name,
  // and saves back into itself in its own format, without touching any user
  // copy.
  void aLinuxTableFileOpensByContentAndSavesIntoItself() {
    const std::filesystem::path rime = At("mine.dict.yaml").toStdString();
    test::WriteBytes(rime, "---\nname: mine\n...\n工\ta\t10\n戈\ta\t20\n");
    QVERIFY(window_->OpenTable(rime));
    QCOMPARE(Entries(), (QStringList{"戈", "工"}));
    QVERIFY(window_->action(command::kLinuxHeader)->isEnabled());
    // Save as offers the table's name, without the format's two suffixes.
    services_->savePicks = {QString()};
    window_->Dispatch(command::kSaveAs);
    QCOMPARE(services_->suggestedNames.last(), At("mine.txt"));
    QCOMPARE(window_->recentFiles(), QStringList{QString::fromStdString(rime)});
    QVERIFY(Label("fileLabel").startsWith(u"mine.dict.yaml — "_s));
    MoveFirstDown();
    QVERIFY(window_->Dispatch(command::kSave));
    QVERIFY(services_->questions.isEmpty());
    // Rime's own format, the moved row first (its weight is the writer's affair).
    const std::string saved = test::ReadBytes(rime);
    QVERIFY(saved.starts_with("---\nname: mine\n...\n工\ta\t"));
    QVERIFY(saved.ends_with("\n戈\ta\t20\n"));
    QVERIFY(!std::filesystem::exists(env_.dataHome / "fcitx5/rime"));

    // fcitx5's text output is a .txt that no line of holds a TAB.
    const std::filesystem::path fcitx = At("out.txt").toStdString();
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
