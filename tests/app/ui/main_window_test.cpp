#include "app/ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRawFont>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/editor_commands.h"
#include "app/ui/chinese_ui.h"
#include "app/ui/entry_dialogs.h"
#include "convert/ui/common_conversion_dialog.h"
#include "convert/ui/rule_conversion_dialog.h"
#include "fake_ui_services.h"
#include "generate/ui/command_tips_dialog.h"
#include "generate/ui/generation_dialogs.h"
#include "generate/ui/merge_dialog.h"
#include "ime/ui/installed_dialog.h"
#include "platform/utf16.h"
#include "store/table_store.h"
#include "support/fake_prefix.h"
#include "support/faulty_file_system.h"
#include "support/test_support.h"
#include "window_fixture.h"

using namespace mirel;

namespace {

using test::ReadFile;
using test::WriteFile;

std::string Utf16Table(const QStringList& rows) {
  std::string out("\xFF\xFE");
  for (const QString& row : rows) {
    const std::u16string text = (row + QStringLiteral("\r\n")).toStdU16String();
    for (char16_t u : text) {
      out += static_cast<char>(u & 0xFF);
      out += static_cast<char>(u >> 8);
    }
  }
  return out;
}

// Runs `act` on the next modal dialog as soon as it shows.
void OnNextDialog(std::function<void(QDialog*)> act) {
  QTimer::singleShot(0, [act] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    QVERIFY(dialog != nullptr);
    act(dialog);
  });
}

}  // namespace

class MainWindowTest : public QObject, public test::WindowFixture {
  Q_OBJECT

 private:
  QString Table(const QStringList& rows, const QString& name = QStringLiteral("t.txt")) {
    const QString path = dir_->filePath(name);
    WriteFile(path, Utf16Table(rows));
    return path;
  }
  void Open(const QStringList& rows) {
    QVERIFY(
        window_->OpenTable(Table(rows, QStringLiteral("open%1.txt").arg(++opened_)).toStdString()));
  }
  // Entries of the whole table, in order.
  QStringList Entries() const {
    QStringList entries;
    for (uint32_t i = 0; i < store_->RowCount(); ++i) {
      const std::u16string_view row = store_->DataRowText(i);
      entries << QString::fromStdU16String(std::u16string(row.substr(0, row.find(u'\t'))));
    }
    return entries;
  }
  QStringList VisibleEntries() const {
    QStringList entries;
    for (int v = 0; v < window_->model().itemCount(); ++v) {
      entries << window_->model().index(v, 1).data().toString();
    }
    return entries;
  }
  void Select(const std::vector<int>& rows) {
    QItemSelectionModel* selection = window_->entryList()->selectionModel();
    selection->clearSelection();
    for (int r : rows) {
      selection->select(window_->model().index(r, 0),
                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
  }
  std::vector<int> Selected() const {
    std::vector<int> rows;
    for (const QModelIndex& i : window_->entryList()->selectionModel()->selectedRows()) {
      rows.push_back(i.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, QWidget* to = nullptr) {
    QTest::keyClick(to ? to : window_->entryList(), static_cast<Qt::Key>(key), modifiers);
  }
  QString Label(const char* name) const {
    return window_->findChild<QLabel*>(QString::fromLatin1(name))->text();
  }
  int Current() const { return window_->entryList()->currentIndex().row(); }
  static QStringList Letters(int n) {
    QStringList rows;
    for (int k = 0; k < n; ++k) rows << QStringLiteral("r%1\t%2").arg(k).arg(QChar(u'a' + k % 3));
    return rows;
  }

  int opened_ = 0;
 private slots:
  void init() { WindowFixture::Open(); }
  void cleanup() { WindowFixture::Close(); }

  void startsEmptyWithTableItemsGreyed() {
    QCOMPARE(window_->windowTitle(), QStringLiteral("Mirel码表编辑器 V3.0"));
    QCOMPARE(window_->size(), QSize(800, 600));
    QVERIFY(!window_->action(command::kSave)->isEnabled());
    QVERIFY(window_->action(command::kOpen)->isEnabled());
    // A greyed item blocks its key.
    Key(Qt::Key_W, Qt::ControlModifier);
    QVERIFY(services_->questions.isEmpty());
    QVERIFY(!window_->Dispatch(40100));  // in range, but no command
    QVERIFY(!window_->Dispatch(99999));
  }

  void openingTellsOfLinesWithoutTabAndKeepsTheTableForATextWithoutRows() {
    Open({QStringLiteral("甲\tab"), QStringLiteral("no tab"), QStringLiteral("乙\tb")});
    QCOMPARE(store_->RowCount(), 2u);
    QCOMPARE(store_->linesWithoutTab().Describe(),
             std::string("1 line without a TAB was left out (line 2)"));
    // Told in a bar above the list, not in a box; the line numbers on request.
    QVERIFY(services_->messages.isEmpty());
    QVERIFY(window_->noticeBar()->isVisible());
    QCOMPARE(window_->noticeText()->text(), QStringLiteral("码表中没有Tab的行未被读入：1 行。"));
    QVERIFY(window_->entryList()->geometry().top() >= window_->noticeBar()->geometry().bottom());
    window_->noticeBar()->findChild<QPushButton*>(QStringLiteral("noticeDetails"))->click();
    QCOMPARE(services_->messages.size(), 1);
    QCOMPARE(services_->messages.last(),
             QStringLiteral("打开码表|码表中没有Tab的行未被读入：1 行。"));
    window_->noticeBar()->findChild<QPushButton*>(QStringLiteral("noticeClose"))->click();
    QVERIFY(window_->noticeBar()->isHidden());
    // The next table with such lines tells again; one without them, or a close, clears it.
    Open({QStringLiteral("#"), QStringLiteral("丙\tc")});
    QVERIFY(window_->noticeBar()->isVisible());
    Open({QStringLiteral("丙\tc")});
    QVERIFY(window_->noticeBar()->isHidden());
    Open({QStringLiteral("#"), QStringLiteral("丙\tc")});
    window_->Dispatch(command::kClose);
    QVERIFY(window_->noticeBar()->isHidden());
    Open({QStringLiteral("甲\tab"), QStringLiteral("no tab"), QStringLiteral("乙\tb")});
    // A text none of whose lines is a row is refused; the open table stays.
    const QString plain = Table({QStringLiteral("a b"), QStringLiteral("c d")}, "plain.txt");
    QVERIFY(!window_->OpenTable(plain.toStdString()));
    QCOMPARE(services_->messages.last(), QStringLiteral("打开失败|无法打开码表文件。"));
    QCOMPARE(Entries(), (QStringList{QStringLiteral("甲"), QStringLiteral("乙")}));
  }

  void filterTypingRefreshesListAndTitle() {
    Open({QStringLiteral("甲\tab"), QStringLiteral("乙\tabc"), QStringLiteral("丙\ta"),
          QStringLiteral("丁\tba")});
    QVERIFY(window_->action(command::kSave)->isEnabled());
    QCOMPARE(window_->windowTitle(),
             QStringLiteral("Mirel码表编辑器 V3.0 - 当前总行数：4，筛选编码：无，筛选后个数：4 - "
                            "open%1.txt[*]")
                 .arg(opened_));
    QTest::keyClicks(window_->filterBox(), QStringLiteral("ab"));
    QCOMPARE(VisibleEntries(), (QStringList{QStringLiteral("甲"), QStringLiteral("乙")}));
    QCOMPARE(window_->windowTitle(),
             QStringLiteral("Mirel码表编辑器 V3.0 - 当前总行数：4，筛选编码：ab，筛选后个数：2 - "
                            "open%1.txt[*]")
                 .arg(opened_));
    window_->exactBox()->setChecked(true);
    QCOMPARE(VisibleEntries(), QStringList{QStringLiteral("甲")});
    window_->exactBox()->setChecked(false);
    QCOMPARE(window_->model().index(1, 3).data().toString(), QStringLiteral("2"));
    window_->filterBox()->clear();
    QCOMPARE(window_->model().itemCount(), 4);
    QVERIFY(window_->windowTitle().contains(QStringLiteral("筛选编码：无")));
    // Long filters are cut to 19 units; long titles to 63.
    QStringList many;
    for (int k = 0; k < 10000; ++k) many << QStringLiteral("词\t") + QString(25, u'z');
    Open(many);
    QTest::keyClicks(window_->filterBox(), QString(25, u'z'));
    QCOMPARE(window_->filterBox()->text().size(), 19);
    QCOMPARE(window_->model().itemCount(), 10000);
    QCOMPARE(window_->windowTitle(),
             QStringLiteral("Mirel码表编辑器 V3.0 - 当前总行数：10000，筛选编码：") +
                 QString(19, u'z') +
                 QStringLiteral("，筛选后个数：10 - open%1.txt[*]").arg(opened_));
  }

  void cellsAreCutAndNumbersFollowTheFilter() {
    const QString pair = QStringLiteral("𠀀");
    Open({QString(300, u'长') + QStringLiteral("\tx"), QStringLiteral("短\ty"),
          QString(125, u'长') + pair + pair + QStringLiteral("\tz"),
          QString(127, u'满') + QStringLiteral("\tw")});
    // A cut cell says so, and never splits a character in two.
    QCOMPARE(window_->model().index(0, 1).data().toString(), QString(126, u'长') + u'…');
    QCOMPARE(window_->model().index(2, 1).data().toString(), QString(125, u'长') + u'…');
    QCOMPARE(window_->model().index(3, 1).data().toString(), QString(127, u'满'));
    window_->filterBox()->setText(QStringLiteral("y"));
    QCOMPARE(window_->model().index(0, 0).data().toString(), QStringLiteral("y"));
    QCOMPARE(window_->model().index(0, 2).data().toString(), QStringLiteral("1"));
    QCOMPARE(window_->model().index(0, 3).data().toString(), QStringLiteral("2"));
    QCOMPARE(window_->model().headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(),
             QStringLiteral("词条"));
    // A filter that matches nothing makes row commands inert.
    window_->filterBox()->setText(QStringLiteral("zz"));
    QVERIFY(!window_->Dispatch(command::kDelete));
  }

  void keysActWhateverHasTheFocus() {
    Open(Letters(4));
    window_->filterBox()->setFocus();
    Select({1});
    services_->yesNo = {false};
    Key(Qt::Key_Delete, Qt::NoModifier, window_->filterBox());
    QCOMPARE(services_->questions.size(), 1);
    QCOMPARE(services_->questions[0], QStringLiteral("确认删除？|是否删除所有选中行？"));
    QCOMPARE(store_->RowCount(), 4u);
    // Tab cycles filter box, exact-match box, list.
    QApplication::setActiveWindow(window_.get());
    window_->filterBox()->setFocus();
    Key(Qt::Key_Tab, Qt::NoModifier, window_->filterBox());
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(window_->exactBox()));
    Key(Qt::Key_Tab, Qt::NoModifier, window_->exactBox());
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(window_->entryList()));
    Key(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(window_->filterBox()));
    // Enter in the filter box modifies the selected row.
    Select({2});
    OnNextDialog([](QDialog* dialog) {
      auto* modify = qobject_cast<ModifyDialog*>(dialog);
      QVERIFY(modify != nullptr);
      QCOMPARE(modify->entryEdit()->text(), QStringLiteral("r2"));
      dialog->reject();
    });
    Key(Qt::Key_Return, Qt::NoModifier, window_->filterBox());
    QCOMPARE(Selected(), std::vector<int>{2});
    // F1 opens the local help document.
    Key(Qt::Key_F1);
    QCOMPARE(services_->opened.size(), 1);
    QVERIFY(services_->opened[0].endsWith(QStringLiteral("/help/index.html")));
  }

  // After a delete the row that took the deleted row's place is current and
  // selected, and the list stays where it was.
  void deleteKeepsThePlaceInTheList() {
    Open(Letters(900));
    QTest::keyClicks(window_->filterBox(), QStringLiteral("a"));  // r0 r3 r6 ...: 300 rows
    window_->entryList()->scrollTo(window_->model().index(150, 0),
                                   QAbstractItemView::PositionAtCenter);
    window_->entryList()->selectionModel()->setCurrentIndex(
        window_->model().index(150, 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const int scroll = window_->entryList()->verticalScrollBar()->value();
    QVERIFY(scroll > 100);
    services_->yesNo = {true};
    Key(Qt::Key_Delete);
    QCOMPARE(window_->model().index(150, 1).data().toString(), QStringLiteral("r453"));
    QCOMPARE(Current(), 150);
    QCOMPARE(Selected(), std::vector<int>{150});
    QCOMPARE(window_->entryList()->verticalScrollBar()->value(), scroll);
    Key(Qt::Key_Down);
    QCOMPARE(Current(), 151);

    // Several rows: the first one's place; the last row: the row above it.
    Select({3, 5, 6});
    services_->yesNo = {true};
    Key(Qt::Key_Delete);
    QCOMPARE(Selected(), std::vector<int>{3});
    QCOMPARE(window_->model().index(3, 1).data().toString(), QStringLiteral("r12"));
    const int last = window_->model().itemCount() - 1;
    Select({last});
    services_->yesNo = {true};
    Key(Qt::Key_Delete);
    QCOMPARE(Selected(), std::vector<int>{last - 1});
    QCOMPARE(Current(), last - 1);
  }

  void modifyUnderAFilterChangesExactlyThatRow() {
    Open(Letters(6));
    window_->filterBox()->setText(QStringLiteral("c"));  // r2 r5
    Select({1});
    OnNextDialog([this](QDialog* dialog) {
      auto* modify = qobject_cast<ModifyDialog*>(dialog);
      modify->entryEdit()->clear();
      modify->accept();
      QCOMPARE(services_->messages.last(), QStringLiteral("错误的输入|必须输入词条"));
      QVERIFY(modify->isVisible());
      modify->entryEdit()->setText(QStringLiteral("新词"));
      modify->codeEdit()->setText(QStringLiteral("zz"));
      modify->accept();
    });
    QVERIFY(window_->Dispatch(command::kModify));
    QCOMPARE(Entries(), (QStringList{"r0", "r1", "r2", "r3", "r4", "新词"}));
    QCOMPARE(QString::fromStdU16String(std::u16string(store_->DataRowText(5))),
             QStringLiteral("新词\tzz"));
    // The row left the filter; the row list shows what remains. The result
    // counts the row in the whole table.
    QCOMPARE(VisibleEntries(), QStringList{"r2"});
    QCOMPARE(Label("resultLabel"), QStringLiteral("已修改第 6 行"));
  }

  void saveCloseExitAndSaveAs() {
    const QString path = Table({QStringLiteral("中\tzh"), QStringLiteral("国\tgg")});
    QVERIFY(window_->OpenTable(path.toStdString()));
    Select({0});
    services_->yesNo = {true};
    window_->Dispatch(command::kDelete);
    Key(Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(ReadFile(path), Utf16Table({QStringLiteral("国\tgg")}));
    QVERIFY(!store_->dirty());

    // Save as offers the table's name as a text, and appends ".txt" to a name
    // without an extension; the table keeps its own file.
    services_->savePicks = {dir_->filePath(QStringLiteral("copy")),
                            dir_->filePath(QStringLiteral("x.csv"))};
    QVERIFY(window_->Dispatch(command::kSaveAs));
    QCOMPARE(services_->pickerTitles.last(), QStringLiteral("另存为"));
    QCOMPARE(services_->suggestedNames.last(), path);
    QVERIFY(QFileInfo::exists(dir_->filePath(QStringLiteral("copy.txt"))));
    QVERIFY(window_->Dispatch(command::kSaveAs));
    QVERIFY(QFileInfo::exists(dir_->filePath(QStringLiteral("x.csv"))));
    QCOMPARE(QString::fromStdString(store_->currentPath().string()), path);

    // A failed save keeps the changes and says so.
    Select({0});
    services_->yesNo = {true};
    window_->Dispatch(command::kDelete);
    services_->savePicks = {dir_->filePath(QStringLiteral("missing/folder/t.txt"))};
    window_->Dispatch(command::kSaveAs);
    QCOMPARE(services_->messages.last(),
             QStringLiteral("无法保存|保存文件失败，请确认对当前目录的文件写入权限。"));
    QVERIFY(store_->dirty());

    // Close asks; No discards. Open asks first too when rows are shown.
    Open({QStringLiteral("a\tb")});
    Select({0});
    services_->yesNo = {true, false};
    window_->Dispatch(command::kDelete);
    window_->Dispatch(command::kClose);  // no rows visible: nothing to close through the gate
    Open({QStringLiteral("a\tb"), QStringLiteral("c\td")});
    Select({0});
    services_->yesNo = {true, false};
    window_->Dispatch(command::kDelete);
    services_->questions.clear();
    services_->openPicks = {path};
    services_->yesNoCancel = {UiServices::Answer::kNo};
    window_->Dispatch(command::kOpen);
    QCOMPARE(services_->questions,
             QStringList{
                 QStringLiteral("是否保存当前文件？|打开文件的内容已经改变，是否保存这些修改?")});
    QCOMPARE(services_->pickerTitles.last(), QStringLiteral("选择码表文件:"));
    QCOMPARE(Entries(), QStringList{QStringLiteral("国")});

    // Exit with changes asks; Yes saves, then the window closes.
    Select({0});
    window_->Dispatch(command::kMoveDown);
    store_->ModifyRow(0, 0, u"gj", u"国家");
    services_->questions.clear();
    services_->yesNoCancel = {UiServices::Answer::kYes};
    Key(Qt::Key_X, Qt::AltModifier);
    QCOMPARE(services_->questions,
             QStringList{
                 QStringLiteral("是否保存当前文件？|打开文件的内容已经改变，是否保存这些修改？")});
    QCOMPARE(ReadFile(path), Utf16Table({QStringLiteral("国家\tgj")}));
    QVERIFY(!window_->isVisible());
  }

  void copyPutsCodeThenEntryOnTheClipboard() {
    Open({QStringLiteral("啊\ta"), QStringLiteral("阿\ta"), QStringLiteral("吖\tb")});
    Select({0, 1});
    Key(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(services_->clipboard, QStringLiteral("a\t啊\r\na\t阿\r\n"));
  }

  // Each row added goes after the one added before it; the rows added are
  // selected and in view, and the status bar says how many.
  void addEntryInsertsAfterTheSelectedRowOrAFilesRows() {
    Open(Letters(3));
    Select({0});
    WriteFile(dir_->filePath(QStringLiteral("more.txt")), "p\tq\r\nr\ts\r\n");
    services_->openPicks = {dir_->filePath(QStringLiteral("more.txt"))};
    OnNextDialog([this](QDialog* dialog) {
      auto* add = qobject_cast<AddEntryDialog*>(dialog);
      QVERIFY(add != nullptr);
      QVERIFY(!add->pathEdit()->isEnabled());
      for (const QString& entry : {QStringLiteral("新"), QStringLiteral("再")}) {
        add->codeEdit()->setText(QStringLiteral("xin"));
        add->entryEdit()->setText(entry);
        add->Import();
      }
      QVERIFY(add->isVisible());
      QCOMPARE(Selected(), std::vector<int>{2});
      QCOMPARE(Current(), 2);
      QCOMPARE(Label("resultLabel"), QStringLiteral("添加：1 行"));
      add->fileButton()->setChecked(true);
      QVERIFY(!add->codeEdit()->isEnabled());
      add->browseButton()->click();
      add->Import();
      QCOMPARE(add->statusEdit()->text(), QStringLiteral("已导入2个词条。"));
      QCOMPARE(Selected(), (std::vector<int>{5, 6}));
      QCOMPARE(Label("resultLabel"), QStringLiteral("添加：2 行"));
      // A row after an import follows the imported rows.
      add->singleButton()->setChecked(true);
      add->codeEdit()->setText(QStringLiteral("mo"));
      add->entryEdit()->setText(QStringLiteral("末"));
      add->Import();
      add->reject();
    });
    Key(Qt::Key_Insert);
    QCOMPARE(Entries(), (QStringList{"r0", "新", "再", "r1", "r2", "p", "r", "末"}));
    QCOMPARE(window_->model().itemCount(), 8);
    QCOMPARE(Selected(), std::vector<int>{7});
    QVERIFY(store_->dirty());

    // Far down a long list the new row comes into view; under a filter that
    // hides it the list keeps its place.
    Open(Letters(600));
    Select({500});
    OnNextDialog([](QDialog* dialog) {
      auto* add = qobject_cast<AddEntryDialog*>(dialog);
      add->codeEdit()->setText(QStringLiteral("x"));
      add->entryEdit()->setText(QStringLiteral("远"));
      add->Import();
      add->reject();
    });
    Key(Qt::Key_Insert);
    QCOMPARE(Selected(), std::vector<int>{501});
    QVERIFY(window_->entryList()->viewport()->rect().intersects(
        window_->entryList()->visualRect(window_->model().index(501, 0))));
    window_->filterBox()->setText(QStringLiteral("b"));
    Select({3});
    OnNextDialog([](QDialog* dialog) {
      auto* add = qobject_cast<AddEntryDialog*>(dialog);
      add->codeEdit()->setText(QStringLiteral("z"));
      add->entryEdit()->setText(QStringLiteral("隐"));
      add->Import();
      add->reject();
    });
    Key(Qt::Key_Insert);
    QCOMPARE(Entries()[11], QStringLiteral("隐"));
    QCOMPARE(Selected(), std::vector<int>{3});
  }

  void statisticsMeasuresTheRowsAsTheyAre() {
    // An unchanged UTF-8 table: no question, and its file keeps its bytes.
    const QString path = dir_->filePath(QStringLiteral("u8.txt"));
    const std::string utf8 =
        "# \xE7\xA0\x81\xE8\xA1\xA8\r\n\xE5\x95\x8A\ta\r\n\xE9\x98\xBF\ta\r\n\xE5\x90\x96\ta\r\n"
        "\xE7\x88\xB1\tai\r\n";
    WriteFile(path, utf8);
    QVERIFY(window_->OpenTable(path.toStdString()));
    Key(Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    QCOMPARE(services_->questions.size(), 0);
    QCOMPARE(services_->opened.size(), 1);
    QVERIFY(services_->opened[0].endsWith(QStringLiteral("/码表信息统计文档.txt")));
    const std::string report = ReadFile(QUrl(services_->opened[0]).toLocalFile());
    QVERIFY(report.find(Utf16Table({QStringLiteral("编码总数:4 个")}).substr(2, 20)) !=
            std::string::npos);
    QCOMPARE(ReadFile(path), utf8);

    // Changed: Cancel does nothing; No measures the open rows and saves nothing.
    Select({0});
    window_->Dispatch(command::kMoveToEnd);
    services_->yesNoCancel = {UiServices::Answer::kCancel};
    window_->Dispatch(command::kStatistics);
    QCOMPARE(services_->questions.size(), 1);
    QCOMPARE(services_->opened.size(), 1);
    services_->yesNoCancel = {UiServices::Answer::kNo};
    window_->Dispatch(command::kStatistics);
    QCOMPARE(services_->opened.size(), 2);
    QCOMPARE(ReadFile(path), utf8);
    QVERIFY(store_->dirty());
    QCOMPARE(Entries(), (QStringList{"阿", "吖", "爱", "啊"}));

    // After save as, the original is not overwritten behind the user's back.
    services_->savePicks = {dir_->filePath(QStringLiteral("copy.txt"))};
    QVERIFY(window_->Dispatch(command::kSaveAs));
    window_->Dispatch(command::kStatistics);
    QCOMPARE(services_->questions.size(), 2);
    QCOMPARE(ReadFile(path), utf8);

    // Yes saves first; a save that fails stops before the report.
    window_->Dispatch(command::kSourceOrder);
    QFile::remove(path);
    QDir().mkpath(path);  // the table's file is now a folder
    services_->yesNoCancel = {UiServices::Answer::kYes};
    services_->confirm = {true};  // rewriting the UTF-8 file as UTF-16LE
    window_->Dispatch(command::kStatistics);
    QCOMPARE(services_->opened.size(), 3);
    QCOMPARE(services_->messages.last(),
             QStringLiteral("无法保存|保存文件失败，请确认对当前目录的文件写入权限。"));
    QVERIFY(store_->dirty());
  }

  void installedCopiesOpenSaveBackAndReverse() {
    // No copy at all: said so, nothing opens.
    window_->SetInstalledEnvironment(
        test::FakePrefix(dir_->filePath("empty").toStdString()).Environment());
    window_->Dispatch(command::kOpenInstalled);
    QCOMPARE(services_->messages.last(),
             QStringLiteral(
                 "无法执行的操作请求|当前计算机尚未安装任何Mirel输入法,所以无法执行该操作。"));

    test::FakePrefix prefix(dir_->filePath("prefix").toStdString());
    prefix.AddCopy(u"Unnamed", u"unnamed", u"");
    prefix.AddCopy(u"MirelIME3_sp", u"mirelsp", u"Mirel 双拼");
    prefix.SetMainTable(u"unnamed", u"x\ty\r\n");
    prefix.SetMainTable(u"mirelsp", u"中\tzh\r\n国\tgg\r\n");
    prefix.SetUserLibrary(u"mirelsp", {u"你好"});
    prefix.WriteRegistry(test::FakePrefix::Style::kRegedit4);
    window_->SetInstalledEnvironment(prefix.Environment());
    const QString main =
        QString::fromStdString((prefix.DataFolder(u"mirelsp") / "main.ktb").string());
    const std::string header = ReadFile(main).substr(36, 34);

    OnNextDialog([](QDialog* dialog) {
      auto* installed = qobject_cast<InstalledDialog*>(dialog);
      QVERIFY(installed != nullptr);
      QCOMPARE(installed->copyList()->count(), 1);  // the copy without a name is not offered
      QVERIFY(!installed->userLibraryBox()->isVisible());
      installed->Confirm();
    });
    window_->Dispatch(command::kOpenInstalled);
    QCOMPARE(Entries(), (QStringList{"中", "国"}));
    QVERIFY(store_->fromCompiled());
    store_->ModifyRow(0, 0, u"zg", u"中国");
    Key(Qt::Key_S, Qt::ControlModifier);
    QVERIFY(!store_->dirty());
    QCOMPARE(ReadFile(main).substr(36, 34), header);

    // Reverse: the export of the saved table and its user library.
    const QString out = dir_->filePath(QStringLiteral("export"));
    services_->savePicks = {out};
    OnNextDialog([](QDialog* dialog) {
      auto* installed = qobject_cast<InstalledDialog*>(dialog);
      QVERIFY(installed->userLibraryBox()->isVisibleTo(installed));
      installed->userLibraryBox()->setChecked(true);
      installed->Confirm();
    });
    window_->Dispatch(command::kReverseInstalled);
    QCOMPARE(services_->messages.last(), QStringLiteral("提示|转换成功"));
    QCOMPARE(ReadFile(out + QStringLiteral(".txt")),
             Utf16Table({QStringLiteral("中国\tzg"), QStringLiteral("国\tgg"),
                         QStringLiteral("//kavo_tolvik 导出的当前正在使用的用户词库"),
                         QStringLiteral("你好\t")}));

    // A read-only main table: the retry question; Cancel leaves the file and the changes.
    QFile::setPermissions(main, QFileDevice::ReadOwner);
    const std::string before = ReadFile(main);
    store_->ModifyRow(1, 1, u"g", u"国");
    services_->retry = {true, false};
    services_->messages.clear();
    window_->Dispatch(command::kSave);
    QCOMPARE(
        services_->questions.last(),
        QStringLiteral(
            "是否重试？|无法替换主码表文件。请关闭正在使用当前输入法的程序，然后单击“重试”。"));
    QCOMPARE(services_->messages.size(), 0);
    QCOMPARE(ReadFile(main), before);
    QVERIFY(store_->dirty());
  }

  void conversionDialogsRunFromTheToolsMenu() {
    const QString source = dir_->filePath(QStringLiteral("src.txt"));
    WriteFile(source, "abc \xE4\xB8\xAD\xE6\x96\x87\r\nx \xE5\x95\x8A \xE9\x98\xBF\r\n");
    const QString result = dir_->filePath(QStringLiteral("[ 转换结果 ].txt"));
    services_->yesNo = {false, false};
    OnNextDialog([&](QDialog* dialog) {
      auto* rules = qobject_cast<RuleConversionDialog*>(dialog);
      QVERIFY(rules != nullptr);
      QVERIFY(!rules->ruleEdit()->isEnabled());
      rules->sourceEdit()->setText(dir_->filePath(QStringLiteral("missing.txt")));
      rules->Run();
      QCOMPARE(services_->messages.last(),
               QStringLiteral("码表格式转换错误|必须定义有效的源码表文件路径"));
      rules->sourceEdit()->setText(source);
      rules->separatorEdit()->setText(QStringLiteral("空格"));
      rules->layoutButton(2)->setChecked(true);
      rules->Run();
      QCOMPARE(ReadFile(result), Utf16Table({QStringLiteral("中文\tabc"), QStringLiteral("啊\tx"),
                                             QStringLiteral("阿\tx")}));
      rules->ruleModeBox()->setChecked(true);
      QVERIFY(!rules->layoutButton(1)->isEnabled());
      rules->ruleEdit()->setPlainText(
          QStringLiteral("<lower.0><space.1><all.0><row.2>==><n><3><t><1><r>"));
      rules->Run();
      QCOMPARE(ReadFile(result),
               Utf16Table({QStringLiteral("中文\tabc"), QStringLiteral("啊 阿\tx")}));
      dialog->reject();
    });
    window_->Dispatch(command::kRuleConversion);
    QCOMPARE(services_->questions.size(), 2);
    QVERIFY(services_->questions[0].startsWith(QStringLiteral("转换完成，是否查看文件？|")));

    // The common formats: detection, the target rule, a conversion.
    const QString mirel = dir_->filePath(QStringLiteral("mirel.txt"));
    WriteFile(mirel, Utf16Table({QStringLiteral("啊\ta"), QStringLiteral("阿\ta"),
                                 QStringLiteral("吧\tb")}));
    services_->yesNo = {false};
    OnNextDialog([&](QDialog* dialog) {
      auto* common = qobject_cast<CommonConversionDialog*>(dialog);
      QVERIFY(common != nullptr);
      QVERIFY(!common->sourceButton(FormatOf(TableFormat::kMirel))->isEnabled());
      common->ChooseSource(mirel);
      QVERIFY(common->sourceButton(FormatOf(TableFormat::kMirel))->isChecked());
      QVERIFY(!common->targetButton(FormatOf(TableFormat::kMirel))->isEnabled());
      QVERIFY(common->targetButton(FormatOf(TableFormat::kSogou))->isEnabled());
      common->Convert(FormatOf(TableFormat::kSogou));
      dialog->reject();
    });
    window_->Dispatch(command::kCommonConversion);
    QCOMPARE(
        ReadFile(dir_->filePath(QStringLiteral("mirel___搜狗格式.txt"))),
        Utf16Table({QStringLiteral("a,1=啊"), QStringLiteral("a,2=阿"), QStringLiteral("b,1=吧")}));
    QVERIFY(services_->questions.last().contains(
        QStringLiteral("成功转换为搜狗码表格式，转换条数：3。\r\n已写入：") +
        dir_->filePath(QStringLiteral("mirel___搜狗格式.txt"))));

    // A row fcitx5 would drop (a repeat) is shown before anything is written; 取消
    // leaves no file and no error box.
    const QString wide = dir_->filePath(QStringLiteral("wide.txt"));
    WriteFile(wide, Utf16Table({QStringLiteral("啊\ta"), QStringLiteral("阿\ta"),
                                QStringLiteral("吧\tb"), QStringLiteral("啊\ta")}));
    const int messages = services_->messages.size();
    services_->confirm = {false};
    OnNextDialog([&](QDialog* dialog) {
      auto* common = qobject_cast<CommonConversionDialog*>(dialog);
      QVERIFY(common != nullptr);
      common->ChooseSource(wide);
      common->Convert(FormatOf(linux_table::LinuxFormat::kFcitxText));
      dialog->reject();
    });
    window_->Dispatch(command::kCommonConversion);
    QCOMPARE(services_->messages.mid(messages), QStringList());
    QCOMPARE(services_->changes.size(), 1);
    QVERIFY(services_->changes.last().first().startsWith(QStringLiteral("第4行")));
    QCOMPARE(services_->changeButtons.last(), QStringLiteral("转换/取消"));
    QCOMPARE(services_->messages.size(), messages);
    QDir folder(dir_->path());
    QCOMPARE(folder.entryList({QStringLiteral("wide*")}, QDir::Files),
             QStringList{QStringLiteral("wide.txt")});
  }

  void mergeAndTipsDialogsRunFromTheToolsMenu() {
    const QString t1 = dir_->filePath(QStringLiteral("t1.txt")),
                  t2 = dir_->filePath(QStringLiteral("t2.txt"));
    WriteFile(t1, Utf16Table({QStringLiteral("中\tab")}));
    WriteFile(t2, Utf16Table({QStringLiteral("中\tx"), QStringLiteral("中\ty")}));
    services_->openPicks = {t1, t2};
    services_->yesNo = {false};
    OnNextDialog([&](QDialog* dialog) {
      auto* merge = qobject_cast<MergeDialog*>(dialog);
      QVERIFY(merge != nullptr);
      merge->Merge();
      QCOMPARE(services_->messages.last(), QStringLiteral("合并错误|必须指定用于合并的第一码表。"));
      merge->Browse(0);
      merge->Browse(1);
      QVERIFY(merge->settingsBox()->toPlainText().startsWith(QStringLiteral("码表1=") + t1));
      merge->Merge();
      dialog->reject();
    });
    window_->Dispatch(command::kMerge);
    QCOMPARE(ReadFile(dir_->filePath(QStringLiteral("[ 码表合并结果 ].txt"))),
             Utf16Table({QStringLiteral("中\tabx"), QStringLiteral("中\taby")}));
    QCOMPARE(services_->questions.last(),
             QStringLiteral(
                 "合并成功，是否查看文件？|码表合并完成，合并后的文件保存于“码表1”相同目录，以“[ "
                 "码表合并结果 ].txt”命名。\r\n是否立即查看该文件？"));

    const QString codes = dir_->filePath(QStringLiteral("codes.txt"));
    const QString contents = dir_->filePath(QStringLiteral("contents.txt"));
    WriteFile(codes, Utf16Table({QStringLiteral("k\tab")}));
    WriteFile(contents, Utf16Table({QStringLiteral("no tab here")}));
    OnNextDialog([&](QDialog* dialog) {
      auto* tips = qobject_cast<CommandTipsDialog*>(dialog);
      QVERIFY(tips != nullptr);
      tips->Generate();
      QCOMPARE(services_->messages.last(), QStringLiteral("生成错误|必须定义提示编码表。"));
      tips->codeTableEdit()->setText(codes);
      tips->contentTableEdit()->setText(contents);
      tips->Generate();
      // Read, but without rows: the message names the file, not access rights.
      QVERIFY2(services_->messages.last().startsWith(
                   QStringLiteral("生成错误|提示内容表中没有“键 TAB 内容”的行")),
               qPrintable(services_->messages.last()));
      QVERIFY(services_->messages.last().contains(contents));
      WriteFile(contents, Utf16Table({QStringLiteral("k\thello")}));
      tips->prefixEdit()->setText(QStringLiteral("z"));
      tips->Generate();
      dialog->reject();
    });
    services_->opened.clear();
    window_->Dispatch(command::kCommandTips);
    QCOMPARE(services_->opened.size(), 1);
    QCOMPARE(ReadFile(QUrl(services_->opened[0]).toLocalFile()),
             Utf16Table({QStringLiteral("$mlcmd(k,k[hello])\tzab")}));
  }

  void generatorsRunOnAWorkerThreadFromTheToolsMenu() {
    const QString split = dir_->filePath(QStringLiteral("split.txt"));
    const QString keys = dir_->filePath(QStringLiteral("keys.txt"));
    WriteFile(split, Utf16Table({QStringLiteral("好\t女子"), QStringLiteral("林\t木木")}));
    WriteFile(keys, Utf16Table({QStringLiteral("a=女"), QStringLiteral("b=子木")}));
    services_->openPicks = {split, keys};
    services_->yesNo = {false};
    OnNextDialog([&](QDialog* dialog) {
      auto* single = qobject_cast<SingleCharactersDialog*>(dialog);
      QVERIFY(single != nullptr);
      const auto buttons = single->findChildren<QPushButton*>();
      for (QPushButton* b : buttons) {
        if (b->text().startsWith(QStringLiteral("拆分序列表")) ||
            b->text().startsWith(QStringLiteral("键盘映射表"))) {
          b->click();
        }
      }
      QVERIFY(single->settingsBox()->toPlainText().contains(split));
      single->Start();
      QVERIFY(!single->isEnabled());
      QTRY_VERIFY_WITH_TIMEOUT(!single->running(), 10000);
      QVERIFY(single->isEnabled());
      QVERIFY(single->windowTitle().startsWith(QStringLiteral("单字编码生成 - 读取行数：")));
      dialog->reject();
    });
    window_->Dispatch(command::kSingleCharacters);
    QCOMPARE(ReadFile(dir_->filePath(QStringLiteral("[ 生成的单字码表 ].txt"))),
             Utf16Table({QStringLiteral("好\tab"), QStringLiteral("林\tbb")}));
    QVERIFY(services_->questions.last().startsWith(QStringLiteral("转换完成，是否查看文件？|")));

    const QString chars = dir_->filePath(QStringLiteral("chars.txt"));
    const QString words = dir_->filePath(QStringLiteral("words.txt"));
    WriteFile(chars, Utf16Table({QStringLiteral("中\tkhkh"), QStringLiteral("国\tlgyi")}));
    WriteFile(words, Utf16Table({QStringLiteral("中国"), QStringLiteral("中无")}));
    services_->yesNo = {false};
    OnNextDialog([&](QDialog* dialog) {
      auto* library = qobject_cast<WordLibraryDialog*>(dialog);
      QVERIFY(library != nullptr);
      QVERIFY(library->predefinedBox()->isChecked());
      library->settingsBox()->setPlainText(
          QStringLiteral("单字码表=") + chars + QStringLiteral("\n辅助码表=\n词库文件=") + words +
          QStringLiteral("\n\n构词规则=\np2=l1b1+l1b2+l2b1+l2b2\n"));
      library->tolerantBox()->setChecked(true);
      library->Start();
      QTRY_VERIFY_WITH_TIMEOUT(!library->running(), 10000);
      dialog->reject();
    });
    window_->Dispatch(command::kWordLibrary);
    QCOMPARE(ReadFile(dir_->filePath(QStringLiteral("[ 生成的词库 ].txt"))),
             Utf16Table({QStringLiteral("中国\tkhlg"), QStringLiteral("中无\tkh")}));
    QVERIFY(ReadFile(dir_->filePath(QStringLiteral("[ error_词库生成 ].txt"))).size() > 2);
    // A run with failures says so, with its count and the log's name.
    const QString told = services_->questions.last();
    QVERIFY2(told.startsWith(QStringLiteral("生成完成，但有 1 条错误，是否查看文件？|")),
             qPrintable(told));
    QVERIFY2(told.contains(QStringLiteral("已写入 2 行：") +
                           dir_->filePath(QStringLiteral("[ 生成的词库 ].txt"))),
             qPrintable(told));
    QVERIFY2(told.contains(dir_->filePath(QStringLiteral("[ error_词库生成 ].txt"))),
             qPrintable(told));
  }

  void reordersAndExports() {
    Open({QStringLiteral("甲\tb"), QStringLiteral("乙\taa"), QStringLiteral("丙\ta")});
    window_->Dispatch(command::kCodeOrder2);
    QCOMPARE(Entries(), (QStringList{"丙", "甲", "乙"}));
    window_->Dispatch(command::kSourceOrder);
    QCOMPARE(Entries(), (QStringList{"甲", "乙", "丙"}));
    services_->savePicks = {dir_->filePath(QStringLiteral("single"))};
    window_->Dispatch(command::kExtractSingle);
    QCOMPARE(services_->messages.last(), QStringLiteral("导出完毕|导出用户单字码表数：3个。"));
    QVERIFY(QFileInfo::exists(dir_->filePath(QStringLiteral("single.txt"))));
    services_->savePicks = {dir_->filePath(QStringLiteral("freq.txt"))};
    Key(Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(
        ReadFile(dir_->filePath(QStringLiteral("freq.txt"))),
        Utf16Table({QStringLiteral("甲\t1"), QStringLiteral("乙\t2"), QStringLiteral("丙\t3")}));
    window_->Dispatch(command::kCodeOrder1);
    services_->openPicks = {dir_->filePath(QStringLiteral("freq.txt"))};
    window_->Dispatch(command::kFrequencyOrder);
    QCOMPARE(Entries(), (QStringList{"甲", "乙", "丙"}));
  }
  void closeBoxAndEverySavePromptCanBeCancelled() {
    const QString path = Table({QStringLiteral("中\tzh"), QStringLiteral("国\tgg")});
    const std::string bytes = ReadFile(path);
    QVERIFY(window_->OpenTable(path.toStdString()));
    Select({0});
    services_->yesNo = {true};
    window_->Dispatch(command::kDelete);
    // Cancel (also what an unanswered question gives) backs out of each.
    QVERIFY(!window_->close());
    QVERIFY(window_->isVisible());
    QCOMPARE(services_->questions.last(),
             QStringLiteral("是否保存当前文件？|打开文件的内容已经改变，是否保存这些修改?"));
    Key(Qt::Key_W, Qt::ControlModifier);
    Key(Qt::Key_O, Qt::ControlModifier);
    Key(Qt::Key_O, Qt::ControlModifier | Qt::AltModifier);
    Key(Qt::Key_X, Qt::AltModifier);
    QCOMPARE(services_->questions.size(), 6);
    QVERIFY(services_->pickerTitles.isEmpty());
    QVERIFY(services_->messages.isEmpty());
    QVERIFY(window_->isVisible());
    QCOMPARE(Entries(), QStringList{QStringLiteral("国")});
    QVERIFY(store_->dirty());

    // No, then a cancelled picker or a file that cannot be read: the open
    // table stays as it was, changes and all.
    services_->yesNoCancel = {UiServices::Answer::kNo, UiServices::Answer::kNo};
    services_->openPicks = {QString(), dir_->filePath(QStringLiteral("t.doc"))};
    WriteFile(dir_->filePath(QStringLiteral("t.doc")), "x\r\n");
    window_->Dispatch(command::kOpen);
    window_->Dispatch(command::kOpen);
    QCOMPARE(services_->messages.last(), QStringLiteral("打开失败|无法打开码表文件。"));
    QCOMPARE(Entries(), QStringList{QStringLiteral("国")});
    QVERIFY(store_->dirty());
    QVERIFY(window_->action(command::kSave)->isEnabled());

    // A filter that hides every row still asks before the changes go.
    window_->filterBox()->setText(QStringLiteral("none"));
    services_->questions.clear();
    QVERIFY(!window_->close());
    QCOMPARE(services_->questions.size(), 1);

    // No closes without saving; Yes saves first.
    services_->yesNoCancel = {UiServices::Answer::kNo};
    QVERIFY(window_->close());
    QCOMPARE(ReadFile(path), bytes);
    window_->show();
    services_->yesNoCancel = {UiServices::Answer::kYes};
    QVERIFY(window_->close());
    QCOMPARE(ReadFile(path), Utf16Table({QStringLiteral("国\tgg")}));
  }

  // The rows listed before a filter that could not be made stay listed, and
  // no command acts on them while they are not the table's rows.
  void aFailedFilterKeepsThePreviousRowsAndSaysWhy() {
    test::FaultyFileSystem faulty(test::DiskFs());
    window_.reset();
    store_ = std::make_unique<TableStore>(faulty, *temp_);
    window_ = std::make_unique<MainWindow>(*store_, *services_, dir_->path().toStdString());
    Open({QStringLiteral("甲\ta"), QStringLiteral("乙\tb"), QStringLiteral("丙\tc")});
    faulty.Reset();
    faulty.FailAt(test::IoStep::kOpen, 0);
    Select({0});
    services_->yesNo = {true, true};
    window_->Dispatch(command::kDelete);
    QCOMPARE(VisibleEntries(), (QStringList{"甲", "乙", "丙"}));
    QVERIFY(window_->findChild<QLabel*>(QStringLiteral("resultLabel"))
                ->text()
                .contains(QStringLiteral("筛选失败：")));
    Select({1});
    window_->Dispatch(command::kDelete);
    QCOMPARE(Entries(), (QStringList{"乙", "丙"}));
    // The next filter works again and lists the table as it is.
    window_->filterBox()->setText(QStringLiteral("c"));
    QCOMPARE(VisibleEntries(), QStringList{"丙"});
    window_.reset();
    store_.reset();
  }

  // Closing a table, and ending the window, leave nothing in the private
  // folder: not the working files, not a spare filter file, not the text of
  // a converted table.
  void workingFilesGoWhenTheTableCloses() {
    const std::filesystem::path folder = temp_->folder();
    auto files = [&] {
      QStringList names;
      for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names << QString::fromStdString(entry.path().filename().string());
      }
      return names;
    };
    Open(Letters(5));
    Select({0});
    services_->yesNo = {true};
    window_->Dispatch(command::kDelete);
    window_->filterBox()->setText(QStringLiteral("a"));
    QVERIFY(!files().isEmpty());
    services_->yesNoCancel = {UiServices::Answer::kNo};
    window_->Dispatch(command::kClose);
    QCOMPARE(files(), QStringList());

    const QString sogou = dir_->filePath(QStringLiteral("sg.dat"));
    WriteFile(sogou, "a,1=啊\r\nb,1=吧\r\n");
    QVERIFY(window_->OpenTable(sogou.toStdString()));
    window_->Dispatch(command::kStatistics);
    QVERIFY(!files().isEmpty());
    window_.reset();
    store_.reset();
    QCOMPARE(files(), QStringList());
  }

  // Tables of every format open by their content; one of the common line
  // formats is saved as a Mirel text the user names, never over itself.
  void everyFormatOpensAndTheConversionPickerOffersIt() {
    const QString sogou = dir_->filePath(QStringLiteral("sg.dat"));
    const std::string bytes = "a,1=啊\r\na,2=阿\r\nb,1=吧\r\n";
    WriteFile(sogou, bytes);
    services_->openPicks = {sogou};
    window_->Dispatch(command::kOpen);
    QCOMPARE(Entries(), (QStringList{"啊", "阿", "吧"}));
    QCOMPARE(window_->recentFiles(), QStringList{sogou});
    QVERIFY(window_->findChild<QLabel*>(QStringLiteral("fileLabel"))
                ->text()
                .startsWith(QStringLiteral("sg.dat — ")));
    QVERIFY(window_->windowTitle().endsWith(QStringLiteral(" - sg.dat[*]")));
    Select({2});
    window_->Dispatch(command::kMoveToTop);
    const QString saved = dir_->filePath(QStringLiteral("sg.txt"));
    services_->savePicks = {saved};
    QVERIFY(window_->Dispatch(command::kSave));
    QCOMPARE(ReadFile(sogou), bytes);
    QCOMPARE(ReadFile(saved), Utf16Table({QStringLiteral("吧\tb"), QStringLiteral("啊\ta"),
                                          QStringLiteral("阿\ta")}));

    OnNextDialog([](QDialog* dialog) {
      for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("浏览(&B)")) button->click();
      }
      dialog->reject();
    });
    window_->Dispatch(command::kCommonConversion);
    QCOMPARE(services_->tablePickerTitles.size(), 2);
  }

  void closingResetsTheTitleAndStatus() {
    Open(Letters(3));
    window_->filterBox()->setText(QStringLiteral("a"));
    Key(Qt::Key_W, Qt::ControlModifier);
    QCOMPARE(window_->windowTitle(), QStringLiteral("Mirel码表编辑器 V3.0"));
    QVERIFY(window_->filterBox()->text().isEmpty());
    QVERIFY(!window_->action(command::kSave)->isEnabled());
    QVERIFY(window_->findChild<QLabel*>(QStringLiteral("rowsLabel"))->text().isEmpty());
  }

  void undoAndRedoWalkBackToTheSavedState() {
    const QString path = Table({QStringLiteral("甲\tb"), QStringLiteral("乙\ta"),
                                QStringLiteral("丙\tc"), QStringLiteral("丁\ta")});
    QVERIFY(window_->OpenTable(path.toStdString()));
    QLabel* changed = window_->findChild<QLabel*>(QStringLiteral("changedLabel"));
    QVERIFY(!window_->action(command::kUndo)->isEnabled());
    QStringList states{Entries().join(u' ')};
    Select({0});
    Key(Qt::Key_Down, Qt::ControlModifier);
    QCOMPARE(Label("resultLabel"), QStringLiteral("下移一位：1 行"));
    states << Entries().join(u' ');
    window_->Dispatch(command::kCodeOrder1);
    states << Entries().join(u' ');
    Key(Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(changed->text(), QString());
    Select({1});
    services_->yesNo = {true};
    Key(Qt::Key_Delete);
    states << Entries().join(u' ');
    Select({0});
    OnNextDialog([](QDialog* dialog) {
      auto* modify = qobject_cast<ModifyDialog*>(dialog);
      modify->entryEdit()->setText(QStringLiteral("更长的词条"));
      modify->accept();
    });
    Key(Qt::Key_Return);
    states << Entries().join(u' ');
    QCOMPARE(changed->text(), QStringLiteral("已修改"));
    QVERIFY(window_->action(command::kUndo)->isEnabled());

    // Each undo names what it took back.
    const QStringList undone = {
        QStringLiteral("已撤销：移动 1 行"), QStringLiteral("已撤销：重新排序（编码序1）"),
        QStringLiteral("已撤销：删除 1 行"), QStringLiteral("已撤销：修改第 1 行")};
    for (int k = static_cast<int>(states.size()) - 2; k >= 0; --k) {
      Key(Qt::Key_Z, Qt::ControlModifier);
      QCOMPARE(Entries().join(u' '), states[k]);
      QCOMPARE(store_->dirty(), k != 2);
      QCOMPARE(changed->text().isEmpty(), k == 2);
      QCOMPARE(Label("resultLabel"), undone[k]);
    }
    QVERIFY(!window_->action(command::kUndo)->isEnabled());
    Key(Qt::Key_Y, Qt::ControlModifier);
    Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(Entries().join(u' '), states[2]);
    QCOMPARE(Label("resultLabel"), QStringLiteral("已重做：重新排序（编码序1）"));
    QVERIFY(!store_->dirty());
    Key(Qt::Key_Y, Qt::ControlModifier);
    Key(Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(Entries().join(u' '), states.last());
    QVERIFY(!window_->action(command::kRedo)->isEnabled());
  }

  void findGoesToEntriesUnderTheFilter() {
    Open({QStringLiteral("中国\tzg"), QStringLiteral("中国人\tzgr"), QStringLiteral("国\tgg"),
          QStringLiteral("美国\tmg"), QStringLiteral("人国\tzr")});
    window_->filterBox()->setText(QStringLiteral("z"));  // 中国 中国人 人国
    QVERIFY(window_->findBar()->isHidden());
    Key(Qt::Key_F, Qt::ControlModifier);
    QVERIFY(!window_->findBar()->isHidden());
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(window_->findBox()));
    window_->findBox()->insert(QStringLiteral("人"));  // as the input method commits it
    // The count says which match the current row is, while it is one.
    QCOMPARE(window_->findCount()->text(), QStringLiteral("1/2"));
    QCOMPARE(Selected(), std::vector<int>{1});
    Key(Qt::Key_F3, Qt::NoModifier, window_->findBox());
    QCOMPARE(Selected(), std::vector<int>{2});
    QCOMPARE(window_->findCount()->text(), QStringLiteral("2/2"));
    Key(Qt::Key_Home);
    QCOMPARE(window_->findCount()->text(), QStringLiteral("2 行匹配"));
    Key(Qt::Key_F3);
    QCOMPARE(window_->findCount()->text(), QStringLiteral("1/2"));
    Key(Qt::Key_F3);
    Key(Qt::Key_Return, Qt::NoModifier, window_->findBox());  // wraps to the first
    QCOMPARE(Selected(), std::vector<int>{1});
    Key(Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(Selected(), std::vector<int>{2});
    // Keys typed into the find box are text, not commands.
    Key(Qt::Key_Delete, Qt::NoModifier, window_->findBox());
    QVERIFY(services_->questions.isEmpty());
    QTest::keyClicks(window_->findBox(), QStringLiteral("x"));
    QCOMPARE(window_->findCount()->text(), QStringLiteral("无匹配"));
    Key(Qt::Key_Escape, Qt::NoModifier, window_->findBox());
    QVERIFY(window_->findBar()->isHidden());
  }

  void rowBreaksAreRefusedInBothDialogs() {
    Open(Letters(2));
    Select({0});
    OnNextDialog([this](QDialog* dialog) {
      auto* modify = qobject_cast<ModifyDialog*>(dialog);
      modify->entryEdit()->setText(QStringLiteral("甲\t乙"));
      modify->accept();
      QVERIFY(modify->isVisible());
      QVERIFY(services_->messages.last().startsWith(
          QStringLiteral("错误的输入|编码和词条中不能含有制表符")));
      modify->entryEdit()->setText(QStringLiteral("甲"));
      modify->codeEdit()->setText(QStringLiteral("a\nb"));
      modify->accept();
      QVERIFY(modify->isVisible());
      dialog->reject();
    });
    window_->Dispatch(command::kModify);
    OnNextDialog([this](QDialog* dialog) {
      auto* add = qobject_cast<AddEntryDialog*>(dialog);
      add->codeEdit()->setText(QStringLiteral("x\ry"));
      add->entryEdit()->setText(QStringLiteral("新"));
      add->Import();
      QVERIFY(services_->messages.last().contains(QStringLiteral("制表符")));
      dialog->reject();
    });
    window_->Dispatch(command::kAdd);
    QCOMPARE(Entries(), (QStringList{"r0", "r1"}));
    QVERIFY(!store_->dirty());
  }

  // Every key a menu shows runs its item's command, and the keys that work
  // are the ones shown.
  void everyKeyShownInTheMenusWorks() {
    Open(Letters(4));
    Select({1});
    window_->Dispatch(command::kMoveDown);
    window_->Dispatch(command::kMoveDown);
    window_->Dispatch(command::kUndo);  // both undo and redo are enabled now
    int ran = 0;
    for (int number = command::kFirst; number <= command::kLast; ++number) {
      window_->SetCommandHandler(number, [&ran, number] { ran = number; });
    }
    int keys = 0;
    for (QAction* top : window_->menuBar()->actions()) {
      QList<QMenu*> menus{top->menu()};
      while (!menus.isEmpty()) {
        QMenu* menu = menus.takeFirst();
        // No two items of one menu share an access key.
        QStringList accessKeys;
        for (QAction* item : menu->actions()) {
          if (item->menu()) menus << item->menu();
          const QRegularExpressionMatch access =
              QRegularExpression(QStringLiteral("&(.)")).match(item->text());
          if (access.hasMatch()) {
            QVERIFY2(!accessKeys.contains(access.captured(1).toUpper()), qPrintable(item->text()));
            accessKeys << access.captured(1).toUpper();
          }
          const qsizetype tab = item->text().indexOf(u'\t');
          if (tab < 0 || item->menu() || menu == window_->recentMenu()) continue;
          QString shown = item->text().mid(tab + 1);
          if (!shown.contains(u'+') && !shown.startsWith(u'F') &&
              shown != QStringLiteral("Enter") && shown != QStringLiteral("Ins") &&
              shown != QStringLiteral("Del") && shown != QStringLiteral("Tab")) {
            continue;  // a hint such as "a-ab-b", not a key
          }
          shown.replace(QStringLiteral("↑"), QStringLiteral("Up"));
          shown.replace(QStringLiteral("↓"), QStringLiteral("Down"));
          shown.replace(QStringLiteral("Enter"), QStringLiteral("Return"));
          for (const QString& text : shown.split(QStringLiteral(", "))) {
            const QKeySequence sequence = QKeySequence::fromString(text, QKeySequence::NativeText);
            QVERIFY2(!sequence.isEmpty(), qPrintable(text));
            ran = 0;
            window_->entryList()->setFocus();
            QTest::keyClick(window_->entryList(), sequence[0].key(),
                            sequence[0].keyboardModifiers());
            QVERIFY2(ran != 0, qPrintable(item->text()));
            QCOMPARE(window_->action(ran), item);
            ++keys;
          }
        }
      }
    }
    QCOMPARE(keys, 34);  // every key the window binds
    // The keys the menus used to show wrongly, and the ones that had no item.
    QVERIFY(
        window_->action(command::kExportFrequency)->text().endsWith(QStringLiteral("\tCtrl+E")));
    QVERIFY(window_->action(command::kExtractSingle)->text().endsWith(QStringLiteral("\tCtrl+I")));
    QVERIFY(window_->action(command::kFocusCycle)->text().endsWith(QStringLiteral("\tTab")));
    QVERIFY(window_->action(command::kCommonConversion)
                ->text()
                .startsWith(QStringLiteral("常见码表格式转换(&X)...")));
  }

  void homeAndEndReachTheEndsOfTheList() {
    Open(Letters(300));
    window_->entryList()->setFocus();
    Select({5});
    Key(Qt::Key_End);
    QCOMPARE(window_->entryList()->currentIndex().row(), 299);
    QCOMPARE(Selected(), std::vector<int>{299});
    Key(Qt::Key_Home, Qt::ShiftModifier);
    QCOMPARE(Selected().size(), size_t{300});
    Key(Qt::Key_Home);
    QCOMPARE(Selected(), std::vector<int>{0});
  }

  void helpUpdatesAndAboutAlwaysAnswer() {
    services_->shellWorks = false;
    Key(Qt::Key_F1);
    QVERIFY(services_->messages.last().startsWith(QStringLiteral("帮助|无法打开帮助文档")));
    window_->Dispatch(command::kCheckUpdates);
    QVERIFY(services_->messages.last().contains(QStringLiteral("3.0.0")));
    QVERIFY(services_->opened.size() == 1);  // no placeholder address is opened
    OnNextDialog([](QDialog* dialog) {
      auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("aboutOk"));
      QVERIFY(ok != nullptr);
      ok->click();
    });
    window_->Dispatch(command::kAbout);
    OnNextDialog([](QDialog* dialog) {
      auto* rules = qobject_cast<RuleConversionDialog*>(dialog);
      QVERIFY(rules->sourceEdit()->text().isEmpty());
      dialog->reject();
    });
    window_->Dispatch(command::kRuleConversion);
  }

  void statusBarDescribesTheTable() {
    const QString path = dir_->filePath(QStringLiteral("s.txt"));
    WriteFile(path, "# \xE7\xA0\x81\xE8\xA1\xA8\r\n\r\nno tab\r\n\xE4\xB8\xAD\tzh\r\n");
    QVERIFY(window_->OpenTable(path.toStdString()));
    auto label = [this](const char* name) {
      return window_->findChild<QLabel*>(QString::fromLatin1(name))->text();
    };
    QCOMPARE(label("fileLabel"),
             QStringLiteral("s.txt — ") + QDir::toNativeSeparators(dir_->path()));
    QCOMPARE(label("encodingLabel"), QStringLiteral("UTF-8"));
    QCOMPARE(label("rowsLabel"), QStringLiteral("行数：1"));
    QCOMPARE(label("leftOutLabel"), QStringLiteral("未列出的行（无TAB）：2"));
    QCOMPARE(label("changedLabel"), QString());
    // Numbers stand right, texts left.
    QCOMPARE(window_->model().index(0, 2).data(Qt::TextAlignmentRole).value<Qt::Alignment>(),
             Qt::AlignRight | Qt::AlignVCenter);
    QCOMPARE(window_->model().index(0, 1).data(Qt::TextAlignmentRole).value<Qt::Alignment>(),
             Qt::AlignLeft | Qt::AlignVCenter);
  }

  // The file is rewritten as UTF-16LE without its comment lines: asked once,
  // before writing, and the status bar then shows what the file holds.
  void firstSaveOfAnotherEncodingAsksOnceAndTheStatusBarFollows() {
    const QString path = dir_->filePath(QStringLiteral("u8.txt"));
    const std::string utf8 = "# \xE7\xA0\x81\xE8\xA1\xA8\n\xE4\xB8\xAD\tzh\n\xE5\x9B\xBD\tgg\n";
    WriteFile(path, utf8);
    QVERIFY(window_->OpenTable(path.toStdString()));
    auto label = [this](const char* name) {
      return window_->findChild<QLabel*>(QString::fromLatin1(name))->text();
    };
    Select({0});
    QVERIFY(window_->Dispatch(command::kMoveToEnd));

    services_->confirm = {false};
    window_->Dispatch(command::kSave);
    QCOMPARE(ReadFile(path), utf8);
    QVERIFY(store_->dirty());
    QCOMPARE(services_->changes.size(), 1);
    QCOMPARE(services_->changes.last(), QStringList{QStringLiteral("第1行：# 码表")});
    QCOMPARE(services_->changeButtons.last(), QStringLiteral("保存/取消"));
    QVERIFY(services_->questions.last().contains(QStringLiteral("UTF-8")));
    QVERIFY(services_->questions.last().contains(QStringLiteral("1行没有Tab")));
    QCOMPARE(label("encodingLabel"), QStringLiteral("UTF-8"));

    services_->confirm = {true};
    window_->Dispatch(command::kSave);
    QCOMPARE(ReadFile(path), Utf16Table({QStringLiteral("国\tgg"), QStringLiteral("中\tzh")}));
    QVERIFY(!store_->dirty());
    QCOMPARE(label("encodingLabel"), QStringLiteral("UTF-16LE"));
    QCOMPARE(label("leftOutLabel"), QString());

    // The file is now what the input method reads: no second question.
    Select({0});
    QVERIFY(window_->Dispatch(command::kMoveToEnd));
    window_->Dispatch(command::kSave);
    QCOMPARE(services_->changes.size(), 2);
    QCOMPARE(ReadFile(path), Utf16Table({QStringLiteral("中\tzh"), QStringLiteral("国\tgg")}));
  }

  void settingsRememberTheWindowAndRecentFiles() {
    QSettings settings(dir_->filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    auto window =
        std::make_unique<MainWindow>(*store_, *services_, dir_->path().toStdString(), &settings);
    window->show();
    QStringList paths;
    for (int k = 0; k < kRecentLimit + 2; ++k) {
      paths << Table({QStringLiteral("r%1\ta").arg(k)}, QStringLiteral("f%1.txt").arg(k));
      QVERIFY(window->OpenTable(paths.last().toStdString()));
    }
    QVERIFY(window->OpenTable(paths[3].toStdString()));
    window->resize(700, 500);
    window->entryList()->setColumnWidth(0, 150);
    QVERIFY(window->close());
    window.reset();

    window =
        std::make_unique<MainWindow>(*store_, *services_, dir_->path().toStdString(), &settings);
    QCOMPARE(window->size(), QSize(700, 500));
    QCOMPARE(window->entryList()->columnWidth(0), 150);
    const QStringList recent = window->recentFiles();
    QCOMPARE(recent.size(), kRecentLimit);
    QCOMPARE(recent[0], paths[3]);
    QCOMPARE(recent[1], paths[9]);
    QVERIFY(!recent.contains(paths[0]));
    window->recentMenu()->actions()[1]->trigger();
    QCOMPARE(Entries(), QStringList{QStringLiteral("r9")});
  }

  void aDroppedTableOpensAfterThePrompt() {
    Open(Letters(2));
    Select({0});
    services_->yesNo = {true};
    window_->Dispatch(command::kDelete);
    const QString path = Table({QStringLiteral("落\tl")}, QStringLiteral("dropped.txt"));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window_.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    services_->yesNoCancel = {UiServices::Answer::kNo};
    QApplication::sendEvent(window_.get(), &drop);
    QTRY_COMPARE(Entries(), QStringList{QStringLiteral("落")});
    QCOMPARE(services_->questions.last(),
             QStringLiteral("是否保存当前文件？|打开文件的内容已经改变，是否保存这些修改?"));
  }
  void qtSpeaksChineseAndTheFontsCoverExtensionB() {
    QTranslator translator;
    QVERIFY2(InstallQtChinese(translator), "qt6-translations-l10n is not installed");
    QMessageBox box(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("t"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    QVERIFY(box.button(QMessageBox::Yes)->text().contains(QStringLiteral("是")));
    QVERIFY(box.button(QMessageBox::No)->text().contains(QStringLiteral("否")));
    QVERIFY(box.button(QMessageBox::Cancel)->text().contains(QStringLiteral("取消")));
    QCoreApplication::removeTranslator(&translator);
    // Every character of Extension B, 𠀀 (U+20000) to the Unicode 13
    // additions (U+2A6D7..U+2A6DD), draws from one of the window's families.
    std::vector<QRawFont> installed;
    for (const QString& family : EditorFontFamilies()) {
      QFont font(family);
      font.setPixelSize(16);
      if (QFontInfo(font).family() != family) continue;  // not installed
      installed.push_back(QRawFont::fromFont(font));
    }
    for (uint32_t c : {0x20000u, 0x2A6A5u, 0x2A6D6u, 0x2A6D7u, 0x2A6DAu, 0x2A6DDu}) {
      const bool covered =
          std::any_of(installed.begin(), installed.end(),
                      [c](const QRawFont& raw) { return raw.supportsCharacter(c); });
      QVERIFY2(covered, qPrintable(QStringLiteral("no installed font draws U+%1 "
                                                  "(fonts-hanazono, fonts-babelstone-han)")
                                       .arg(c, 0, 16)));
    }
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
