#include "app/ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
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
#include <QTranslator>

#include "app/editor_commands.h"
#include "app/ui/chinese_ui.h"
#include "app/ui/entry_dialogs.h"
#include "convert/ui/common_conversion_dialog.h"
#include "convert/ui/rule_conversion_dialog.h"
#include "generate/ui/command_tips_dialog.h"
#include "generate/ui/generation_dialogs.h"
#include "generate/ui/merge_dialog.h"
#include "ime/ui/installed_dialog.h"
#include "support/fake_prefix.h"
#include "support/faulty_file_system.h"
#include "window_fixture.h"

using namespace mirel;

namespace {

using test::OnNextDialog;
using test::ReadFile;
using test::WriteFile;

std::string Utf16Table(const QStringList& rows) {
  std::vector<std::u16string> texts;
  for (const QString& row : rows) texts.push_back(row.toStdU16String());
  return test::TableBytes(texts);
}

}  // namespace

class MainWindowTest : public QObject, public test::WindowFixture {
  Q_OBJECT

 private:
  QString Table(const QStringList& rows, const QString& name = u"t.txt"_s) {
    const QString path = At(name);
    WriteFile(path, Utf16Table(rows));
    return path;
  }
  void Open(const QStringList& rows) {
    QVERIFY(window_->OpenTable(Table(rows, u"open%1.txt"_s.arg(++opened_)).toStdString()));
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
  int Current() const { return window_->entryList()->currentIndex().row(); }
  QString Cell(int row, int column) const {
    return window_->model().index(row, column).data().toString();
  }
  // The delete question answered Yes.
  void Delete(const std::vector<int>& rows) {
    Select(rows);
    services_->yesNo = {true};
    window_->Dispatch(command::kDelete);
  }
  // One row through the add dialog, after the selected row.
  void Add(const QString& code, const QString& entry) {
    OnNextDialog<AddEntryDialog>([code, entry](AddEntryDialog* add) {
      add->codeEdit()->setText(code);
      add->entryEdit()->setText(entry);
      add->Import();
      add->reject();
    });
    Key(Qt::Key_Insert);
  }
  static QStringList Letters(int n) {
    QStringList rows;
    for (int k = 0; k < n; ++k) rows << u"r%1\t%2"_s.arg(k).arg(QChar(u'a' + k % 3));
    return rows;
  }

  int opened_ = 0;
 private slots:
  void init() { WindowFixture::Open(); }
  void cleanup() { WindowFixture::Close(); }

  // Before a table and after closing one: the bare title, the table's items
  // greyed and their keys blocked; help, updates and about answer even so.
  void startsAndClosesToTheBareWindow() {
    QCOMPARE(window_->size(), QSize(800, 600));
    auto bare = [this] {
      QCOMPARE(window_->windowTitle(), u"Mirel码表编辑器 V3.0"_s);
      QVERIFY(!window_->action(command::kSave)->isEnabled());
      QVERIFY(window_->action(command::kOpen)->isEnabled());
      QVERIFY(Label("rowsLabel").isEmpty());
      Key(Qt::Key_W, Qt::ControlModifier);
      QVERIFY(services_->questions.isEmpty());
    };
    bare();
    Open(Letters(3));
    window_->filterBox()->setText(u"a"_s);
    Key(Qt::Key_W, Qt::ControlModifier);
    QVERIFY(window_->filterBox()->text().isEmpty());
    bare();
    QVERIFY(!window_->Dispatch(40100));  // in range, but no command
    QVERIFY(!window_->Dispatch(99999));

    services_->shellWorks = false;
    Key(Qt::Key_F1);
    QVERIFY(services_->opened[0].endsWith(u"/help/index.html"_s));
    QVERIFY(services_->messages.last().startsWith(u"帮助|无法打开帮助文档"_s));
    window_->Dispatch(command::kCheckUpdates);
    QVERIFY(services_->messages.last().contains(u"3.0.0"_s));
    QCOMPARE(services_->opened.size(), 1);  // no placeholder address is opened
    OnNextDialog([](QDialog* dialog) {
      auto* ok = dialog->findChild<QPushButton*>(u"aboutOk"_s);
      QVERIFY(ok != nullptr);
      ok->click();
    });
    window_->Dispatch(command::kAbout);
    OnNextDialog<RuleConversionDialog>([](RuleConversionDialog* rules) {
      QVERIFY(rules->sourceEdit()->text().isEmpty());
      rules->reject();
    });
    window_->Dispatch(command::kRuleConversion);
  }

  void openingTellsOfLinesWithoutTabAndKeepsTheTableForATextWithoutRows() {
    Open({"甲\tab", "no tab", "乙\tb"});
    // Told in a bar above the list, not in a box; the line numbers on request.
    QVERIFY(services_->messages.isEmpty());
    QVERIFY(window_->noticeBar()->isVisible());
    QCOMPARE(window_->noticeText()->text(), u"码表中没有Tab的行未被读入：1 行。"_s);
    QVERIFY(window_->entryList()->geometry().top() >= window_->noticeBar()->geometry().bottom());
    window_->noticeBar()->findChild<QPushButton*>(u"noticeDetails"_s)->click();
    QCOMPARE(services_->messages, QStringList{u"打开码表|码表中没有Tab的行未被读入：1 行。"_s});
    window_->noticeBar()->findChild<QPushButton*>(u"noticeClose"_s)->click();
    QVERIFY(window_->noticeBar()->isHidden());
    // The next table with such lines tells again; one without them, or a close, clears it.
    Open({"#", "丙\tc"});
    QVERIFY(window_->noticeBar()->isVisible());
    Open({"丙\tc"});
    QVERIFY(window_->noticeBar()->isHidden());
    // A text none of whose lines is a row is refused; the open table stays.
    QVERIFY(!window_->OpenTable(Table({"a b", "c d"}, "plain.txt").toStdString()));
    QCOMPARE(services_->messages.last(), u"打开失败|无法打开码表文件。"_s);
    QCOMPARE(VisibleEntries(), QStringList{"丙"});
    Open({"#", "丙\tc"});
    window_->Dispatch(command::kClose);
    QVERIFY(window_->noticeBar()->isHidden());
  }

  void filterTypingRefreshesListAndTitle() {
    auto title = [this](int rows, const QString& filter, int shown) {
      return u"Mirel码表编辑器 V3.0 - 当前总行数：%1，筛选编码：%2，筛选后个数：%3 - open%4.txt[*]"_s
          .arg(QString::number(rows), filter, QString::number(shown), QString::number(opened_));
    };
    Open({"甲\tab", "乙\tabc", "丙\ta", "丁\tba"});
    QVERIFY(window_->action(command::kSave)->isEnabled());
    QCOMPARE(window_->windowTitle(), title(4, u"无"_s, 4));
    QTest::keyClicks(window_->filterBox(), u"ab"_s);
    QCOMPARE(VisibleEntries(), (QStringList{"甲", "乙"}));
    QCOMPARE(window_->windowTitle(), title(4, u"ab"_s, 2));
    window_->exactBox()->setChecked(true);
    QCOMPARE(VisibleEntries(), QStringList{"甲"});
    window_->exactBox()->setChecked(false);
    QCOMPARE(Cell(1, 3), u"2"_s);
    window_->filterBox()->clear();
    QCOMPARE(window_->model().itemCount(), 4);
    QCOMPARE(window_->windowTitle(), title(4, u"无"_s, 4));
    // Long filters are cut to 19 units; long titles to 63.
    QStringList many;
    for (int k = 0; k < 10000; ++k) many << u"词\t"_s + QString(25, u'z');
    Open(many);
    QTest::keyClicks(window_->filterBox(), QString(25, u'z'));
    QCOMPARE(window_->filterBox()->text().size(), 19);
    QCOMPARE(window_->model().itemCount(), 10000);
    QCOMPARE(window_->windowTitle(), title(10000, QString(19, u'z'), 10));
  }

  void cellsAreCutAndNumbersFollowTheFilter() {
    const QString pair = u"𠀀"_s;
    Open({QString(300, u'长') + u"\tx"_s, "短\ty", QString(125, u'长') + pair + pair + u"\tz"_s,
          QString(127, u'满') + u"\tw"_s});
    // A cut cell says so, and never splits a character in two.
    QCOMPARE(Cell(0, 1), QString(126, u'长') + u'…');
    QCOMPARE(Cell(2, 1), QString(125, u'长') + u'…');
    QCOMPARE(Cell(3, 1), QString(127, u'满'));
    window_->filterBox()->setText(u"y"_s);
    QCOMPARE(Cell(0, 0), u"y"_s);
    QCOMPARE(Cell(0, 2), u"1"_s);
    QCOMPARE(Cell(0, 3), u"2"_s);
    // Numbers stand right, texts left.
    QCOMPARE(window_->model().index(0, 2).data(Qt::TextAlignmentRole).value<Qt::Alignment>(),
             Qt::AlignRight | Qt::AlignVCenter);
    QCOMPARE(window_->model().index(0, 1).data(Qt::TextAlignmentRole).value<Qt::Alignment>(),
             Qt::AlignLeft | Qt::AlignVCenter);
    // A filter that matches nothing makes row commands inert.
    window_->filterBox()->setText(u"zz"_s);
    QVERIFY(!window_->Dispatch(command::kDelete));
  }

  void keysActWhateverHasTheFocus() {
    Open(Letters(4));
    window_->filterBox()->setFocus();
    Select({1});
    services_->yesNo = {false};
    Key(Qt::Key_Delete, Qt::NoModifier, window_->filterBox());
    QCOMPARE(services_->questions, QStringList{u"确认删除？|是否删除所有选中行？"_s});
    QCOMPARE(store_->RowCount(), 4u);
    // Tab cycles filter box, exact-match box, list.
    QApplication::setActiveWindow(window_.get());
    window_->filterBox()->setFocus();
    for (QWidget* next :
         QList<QWidget*>{window_->exactBox(), window_->entryList(), window_->filterBox()}) {
      Key(Qt::Key_Tab, Qt::NoModifier, QApplication::focusWidget());
      QCOMPARE(QApplication::focusWidget(), next);
    }
    // Enter in the filter box modifies the selected row.
    Select({2});
    OnNextDialog<ModifyDialog>([](ModifyDialog* modify) {
      QCOMPARE(modify->entryEdit()->text(), u"r2"_s);
      modify->reject();
    });
    Key(Qt::Key_Return, Qt::NoModifier, window_->filterBox());
    QCOMPARE(Selected(), std::vector<int>{2});

    // Ctrl+C puts code, then entry, on the clipboard.
    Open({"啊\ta", "阿\ta", "吖\tb"});
    Select({0, 1});
    Key(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(services_->clipboard, u"a\t啊\r\na\t阿\r\n"_s);

    // Home and End reach the ends of the list.
    Open(Letters(300));
    window_->entryList()->setFocus();
    Select({5});
    Key(Qt::Key_End);
    QCOMPARE(Current(), 299);
    QCOMPARE(Selected(), std::vector<int>{299});
    Key(Qt::Key_Home, Qt::ShiftModifier);
    QCOMPARE(Selected().size(), size_t{300});
    Key(Qt::Key_Home);
    QCOMPARE(Selected(), std::vector<int>{0});
  }

  // After a delete the row that took the deleted row's place is current and
  // selected, and the list stays where it was.
  void deleteKeepsThePlaceInTheList() {
    Open(Letters(900));
    QTest::keyClicks(window_->filterBox(), u"a"_s);  // r0 r3 r6 ...: 300 rows
    QTableView* list = window_->entryList();
    list->scrollTo(window_->model().index(150, 0), QAbstractItemView::PositionAtCenter);
    list->selectionModel()->setCurrentIndex(
        window_->model().index(150, 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const int scroll = list->verticalScrollBar()->value();
    QVERIFY(scroll > 100);
    services_->yesNo = {true};
    Key(Qt::Key_Delete);
    QCOMPARE(Cell(150, 1), u"r453"_s);
    QCOMPARE(Current(), 150);
    QCOMPARE(Selected(), std::vector<int>{150});
    QCOMPARE(list->verticalScrollBar()->value(), scroll);
    Key(Qt::Key_Down);
    QCOMPARE(Current(), 151);

    // Several rows: the first one's place; the last row: the row above it.
    Delete({3, 5, 6});
    QCOMPARE(Selected(), std::vector<int>{3});
    QCOMPARE(Cell(3, 1), u"r12"_s);
    const int last = window_->model().itemCount() - 1;
    Delete({last});
    QCOMPARE(Selected(), std::vector<int>{last - 1});
    QCOMPARE(Current(), last - 1);
  }

  void modifyUnderAFilterChangesExactlyThatRow() {
    Open(Letters(6));
    window_->filterBox()->setText(u"c"_s);  // r2 r5
    Select({1});
    OnNextDialog<ModifyDialog>([this](ModifyDialog* modify) {
      modify->entryEdit()->clear();
      modify->accept();
      QCOMPARE(services_->messages.last(), u"错误的输入|必须输入词条"_s);
      QVERIFY(modify->isVisible());
      modify->entryEdit()->setText(u"新词"_s);
      modify->codeEdit()->setText(u"zz"_s);
      modify->accept();
    });
    QVERIFY(window_->Dispatch(command::kModify));
    QCOMPARE(QString::fromStdU16String(std::u16string(store_->DataRowText(5))), u"新词\tzz"_s);
    // The row left the filter; the row list shows what remains. The result
    // counts the row in the whole table.
    QCOMPARE(VisibleEntries(), QStringList{"r2"});
    QCOMPARE(Label("resultLabel"), u"已修改第 6 行"_s);
  }

  void saveAndSaveAs() {
    const QString path = Table({"中\tzh", "国\tgg"});
    QVERIFY(window_->OpenTable(path.toStdString()));
    Delete({0});
    Key(Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(ReadFile(path), Utf16Table({"国\tgg"}));
    QVERIFY(!store_->dirty());

    // Save as offers the table's name as a text, and appends ".txt" to a name
    // without an extension; the table keeps its own file.
    services_->savePicks = {At("copy"), At("x.csv")};
    QVERIFY(window_->Dispatch(command::kSaveAs));
    QCOMPARE(services_->pickerTitles.last(), u"另存为"_s);
    QCOMPARE(services_->suggestedNames.last(), path);
    QVERIFY(QFileInfo::exists(At("copy.txt")));
    QVERIFY(window_->Dispatch(command::kSaveAs));
    QVERIFY(QFileInfo::exists(At("x.csv")));
    QCOMPARE(QString::fromStdString(store_->currentPath().string()), path);

    // A failed save keeps the changes and says so.
    Delete({0});
    services_->savePicks = {At("missing/folder/t.txt")};
    window_->Dispatch(command::kSaveAs);
    QCOMPARE(services_->messages.last(),
             u"无法保存|保存文件失败，请确认对当前目录的文件写入权限。"_s);
    QVERIFY(store_->dirty());
  }

  // Each row added goes after the one added before it; the rows added are
  // selected and in view, and the status bar says how many.
  void addEntryInsertsAfterTheSelectedRowOrAFilesRows() {
    Open(Letters(3));
    Select({0});
    WriteFile(At("more.txt"), "p\tq\r\nr\ts\r\n");
    services_->openPicks = {At("more.txt")};
    OnNextDialog<AddEntryDialog>([this](AddEntryDialog* add) {
      QVERIFY(!add->pathEdit()->isEnabled());
      for (const char* entry : {"新", "再"}) {
        add->codeEdit()->setText(u"xin"_s);
        add->entryEdit()->setText(QString::fromUtf8(entry));
        add->Import();
      }
      QVERIFY(add->isVisible());
      QCOMPARE(Selected(), std::vector<int>{2});
      QCOMPARE(Current(), 2);
      QCOMPARE(Label("resultLabel"), u"添加：1 行"_s);
      add->fileButton()->setChecked(true);
      QVERIFY(!add->codeEdit()->isEnabled());
      add->browseButton()->click();
      add->Import();
      QCOMPARE(add->statusEdit()->text(), u"已导入2个词条。"_s);
      QCOMPARE(Selected(), (std::vector<int>{5, 6}));
      QCOMPARE(Label("resultLabel"), u"添加：2 行"_s);
      // A row after an import follows the imported rows.
      add->singleButton()->setChecked(true);
      add->codeEdit()->setText(u"mo"_s);
      add->entryEdit()->setText(u"末"_s);
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
    Add(u"x"_s, u"远"_s);
    QCOMPARE(Selected(), std::vector<int>{501});
    QVERIFY(window_->entryList()->viewport()->rect().intersects(
        window_->entryList()->visualRect(window_->model().index(501, 0))));
    window_->filterBox()->setText(u"b"_s);
    Select({3});
    Add(u"z"_s, u"隐"_s);
    QCOMPARE(Entries()[11], u"隐"_s);
    QCOMPARE(Selected(), std::vector<int>{3});
  }

  void statisticsMeasuresTheRowsAsTheyAre() {
    // An unchanged UTF-8 table: no question, and its file keeps its bytes.
    const QString path = At("u8.txt");
    const std::string utf8 = "# 码表\r\n啊\ta\r\n阿\ta\r\n吖\ta\r\n爱\tai\r\n";
    WriteFile(path, utf8);
    QVERIFY(window_->OpenTable(path.toStdString()));
    // Questions asked and reports shown so far.
    auto told = [this] { return QList{services_->questions.size(), services_->opened.size()}; };
    Key(Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    QCOMPARE(told(), (QList<qsizetype>{0, 1}));
    QVERIFY(services_->opened[0].endsWith(u"/码表信息统计文档.txt"_s));
    QVERIFY(ReadFile(QUrl(services_->opened[0]).toLocalFile())
                .find(Utf16Table({"编码总数:4 个"}).substr(2, 20)) != std::string::npos);
    QCOMPARE(ReadFile(path), utf8);

    // Changed: Cancel does nothing; No measures the open rows and saves nothing.
    Select({0});
    window_->Dispatch(command::kMoveToEnd);
    services_->yesNoCancel = {UiServices::Answer::kCancel};
    window_->Dispatch(command::kStatistics);
    QCOMPARE(told(), (QList<qsizetype>{1, 1}));
    services_->yesNoCancel = {UiServices::Answer::kNo};
    window_->Dispatch(command::kStatistics);
    QCOMPARE(told(), (QList<qsizetype>{2, 2}));
    QCOMPARE(ReadFile(path), utf8);
    QVERIFY(store_->dirty());
    QCOMPARE(Entries(), (QStringList{"阿", "吖", "爱", "啊"}));

    // After save as, the original is not overwritten behind the user's back.
    services_->savePicks = {At("copy.txt")};
    QVERIFY(window_->Dispatch(command::kSaveAs));
    window_->Dispatch(command::kStatistics);
    QCOMPARE(told(), (QList<qsizetype>{2, 3}));
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
             u"无法保存|保存文件失败，请确认对当前目录的文件写入权限。"_s);
    QVERIFY(store_->dirty());
  }

  void installedCopiesOpenSaveBackAndReverse() {
    // No copy at all: said so, nothing opens.
    window_->SetInstalledEnvironment(test::FakePrefix(At("empty").toStdString()).Environment());
    window_->Dispatch(command::kOpenInstalled);
    QCOMPARE(services_->messages.last(),
             u"无法执行的操作请求|当前计算机尚未安装任何Mirel输入法,所以无法执行该操作。"_s);

    test::FakePrefix prefix(At("prefix").toStdString());
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

    OnNextDialog<InstalledDialog>([](InstalledDialog* installed) {
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
    const QString out = At("export");
    services_->savePicks = {out};
    OnNextDialog<InstalledDialog>([](InstalledDialog* installed) {
      QVERIFY(installed->userLibraryBox()->isVisibleTo(installed));
      installed->userLibraryBox()->setChecked(true);
      installed->Confirm();
    });
    window_->Dispatch(command::kReverseInstalled);
    QCOMPARE(services_->messages.last(), u"提示|转换成功"_s);
    QCOMPARE(ReadFile(out + u".txt"_s),
             Utf16Table({"中国\tzg", "国\tgg", u"//kavo_tolvik 导出的当前正在使用的用户词库"_s,
                         "你好\t"}));

    // A read-only main table: the retry question; Cancel leaves the file and the changes.
    QFile::setPermissions(main, QFileDevice::ReadOwner);
    const std::string before = ReadFile(main);
    store_->ModifyRow(1, 1, u"g", u"国");
    services_->retry = {true, false};
    services_->messages.clear();
    window_->Dispatch(command::kSave);
    QCOMPARE(services_->questions.last(),
             u"是否重试？|无法替换主码表文件。请关闭正在使用当前输入法的程序，然后单击“重试”。"_s);
    QCOMPARE(services_->messages.size(), 0);
    QCOMPARE(ReadFile(main), before);
    QVERIFY(store_->dirty());
  }

  void conversionDialogsRunFromTheToolsMenu() {
    const QString source = At("src.txt");
    WriteFile(source, "abc 中文\r\nx 啊 阿\r\n");
    const QString result = At("[ 转换结果 ].txt");
    services_->yesNo = {false, false};
    OnNextDialog<RuleConversionDialog>([&](RuleConversionDialog* rules) {
      QVERIFY(!rules->ruleEdit()->isEnabled());
      rules->sourceEdit()->setText(At("missing.txt"));
      rules->Run();
      QCOMPARE(services_->messages.last(), u"码表格式转换错误|必须定义有效的源码表文件路径"_s);
      rules->sourceEdit()->setText(source);
      rules->separatorEdit()->setText(u"空格"_s);
      rules->layoutButton(2)->setChecked(true);
      rules->Run();
      QCOMPARE(ReadFile(result), Utf16Table({"中文\tabc", "啊\tx", "阿\tx"}));
      rules->ruleModeBox()->setChecked(true);
      QVERIFY(!rules->layoutButton(1)->isEnabled());
      rules->ruleEdit()->setPlainText(u"<lower.0><space.1><all.0><row.2>==><n><3><t><1><r>"_s);
      rules->Run();
      QCOMPARE(ReadFile(result), Utf16Table({"中文\tabc", "啊 阿\tx"}));
      rules->reject();
    });
    window_->Dispatch(command::kRuleConversion);
    QCOMPARE(services_->questions.size(), 2);
    QVERIFY(services_->questions[0].startsWith(u"转换完成，是否查看文件？|"_s));

    // The common formats: detection, the target rule, a conversion.
    const QString mirel = Table({"啊\ta", "阿\ta", "吧\tb"}, u"mirel.txt"_s);
    services_->yesNo = {false};
    OnNextDialog<CommonConversionDialog>([&](CommonConversionDialog* common) {
      QVERIFY(!common->sourceButton(FormatOf(TableFormat::kMirel))->isEnabled());
      common->ChooseSource(mirel);
      QVERIFY(common->sourceButton(FormatOf(TableFormat::kMirel))->isChecked());
      QVERIFY(!common->targetButton(FormatOf(TableFormat::kMirel))->isEnabled());
      QVERIFY(common->targetButton(FormatOf(TableFormat::kSogou))->isEnabled());
      common->Convert(FormatOf(TableFormat::kSogou));
      common->reject();
    });
    window_->Dispatch(command::kCommonConversion);
    QCOMPARE(ReadFile(At("mirel___搜狗格式.txt")), Utf16Table({"a,1=啊", "a,2=阿", "b,1=吧"}));
    QVERIFY(services_->questions.last().contains(
        u"成功转换为搜狗码表格式，转换条数：3。\r\n已写入："_s + At("mirel___搜狗格式.txt")));

    // A row fcitx5 would drop (a repeat) is shown before anything is written; 取消
    // leaves no file and no error box.
    const QString wide = Table({"啊\ta", "阿\ta", "吧\tb", "啊\ta"}, u"wide.txt"_s);
    const int messages = services_->messages.size();
    services_->confirm = {false};
    OnNextDialog<CommonConversionDialog>([&](CommonConversionDialog* common) {
      common->ChooseSource(wide);
      common->Convert(FormatOf(linux_table::LinuxFormat::kFcitxText));
      common->reject();
    });
    window_->Dispatch(command::kCommonConversion);
    QCOMPARE(services_->messages.mid(messages), QStringList());
    QCOMPARE(services_->changes.size(), 1);
    QVERIFY(services_->changes.last().first().startsWith(u"第4行"_s));
    QCOMPARE(services_->changeButtons.last(), u"转换/取消"_s);
    QCOMPARE(QDir(dir_->path()).entryList({"wide*"}, QDir::Files), QStringList{"wide.txt"});
  }

  void mergeAndTipsDialogsRunFromTheToolsMenu() {
    const QString t1 = Table({"中\tab"}, u"t1.txt"_s);
    const QString t2 = Table({"中\tx", "中\ty"}, u"t2.txt"_s);
    services_->openPicks = {t1, t2};
    services_->yesNo = {false};
    OnNextDialog<MergeDialog>([&](MergeDialog* merge) {
      merge->Merge();
      QCOMPARE(services_->messages.last(), u"合并错误|必须指定用于合并的第一码表。"_s);
      merge->Browse(0);
      merge->Browse(1);
      QVERIFY(merge->settingsBox()->toPlainText().startsWith(u"码表1="_s + t1));
      merge->Merge();
      merge->reject();
    });
    window_->Dispatch(command::kMerge);
    QCOMPARE(ReadFile(At("[ 码表合并结果 ].txt")), Utf16Table({"中\tabx", "中\taby"}));
    QVERIFY(services_->questions.last().startsWith(u"合并成功，是否查看文件？|"_s));

    const QString codes = Table({"k\tab"}, u"codes.txt"_s);
    const QString contents = Table({"no tab here"}, u"contents.txt"_s);
    OnNextDialog<CommandTipsDialog>([&](CommandTipsDialog* tips) {
      tips->Generate();
      QCOMPARE(services_->messages.last(), u"生成错误|必须定义提示编码表。"_s);
      tips->codeTableEdit()->setText(codes);
      tips->contentTableEdit()->setText(contents);
      tips->Generate();
      // Read, but without rows: the message names the file, not access rights.
      QVERIFY(
          services_->messages.last().startsWith(u"生成错误|提示内容表中没有“键 TAB 内容”的行"_s));
      QVERIFY(services_->messages.last().contains(contents));
      WriteFile(contents, Utf16Table({"k\thello"}));
      tips->prefixEdit()->setText(u"z"_s);
      tips->Generate();
      tips->reject();
    });
    services_->opened.clear();
    window_->Dispatch(command::kCommandTips);
    QCOMPARE(services_->opened.size(), 1);
    QCOMPARE(ReadFile(QUrl(services_->opened[0]).toLocalFile()),
             Utf16Table({"$mlcmd(k,k[hello])\tzab"}));
  }

  void generatorsRunOnAWorkerThreadFromTheToolsMenu() {
    const QString split = Table({"好\t女子", "林\t木木"}, u"split.txt"_s);
    services_->openPicks = {split, Table({"a=女", "b=子木"}, u"keys.txt"_s)};
    services_->yesNo = {false};
    OnNextDialog<SingleCharactersDialog>([&](SingleCharactersDialog* single) {
      for (QPushButton* b : single->findChildren<QPushButton*>()) {
        if (b->text().contains(QRegularExpression(u"^(拆分序列表|键盘映射表)"_s))) b->click();
      }
      QVERIFY(single->settingsBox()->toPlainText().contains(split));
      single->Start();
      QVERIFY(!single->isEnabled());
      QTRY_VERIFY_WITH_TIMEOUT(!single->running(), 10000);
      QVERIFY(single->isEnabled());
      QVERIFY(single->windowTitle().startsWith(u"单字编码生成 - 读取行数："_s));
      single->reject();
    });
    window_->Dispatch(command::kSingleCharacters);
    QCOMPARE(ReadFile(At("[ 生成的单字码表 ].txt")), Utf16Table({"好\tab", "林\tbb"}));
    QVERIFY(services_->questions.last().startsWith(u"转换完成，是否查看文件？|"_s));

    const QString chars = Table({"中\tkhkh", "国\tlgyi"}, u"chars.txt"_s);
    const QString words = Table({"中国", "中无"}, u"words.txt"_s);
    services_->yesNo = {false};
    OnNextDialog<WordLibraryDialog>([&](WordLibraryDialog* library) {
      QVERIFY(library->predefinedBox()->isChecked());
      library->settingsBox()->setPlainText(u"单字码表="_s + chars + u"\n辅助码表=\n词库文件="_s +
                                           words + u"\n\n构词规则=\np2=l1b1+l1b2+l2b1+l2b2\n"_s);
      library->tolerantBox()->setChecked(true);
      library->Start();
      QTRY_VERIFY_WITH_TIMEOUT(!library->running(), 10000);
      library->reject();
    });
    window_->Dispatch(command::kWordLibrary);
    QCOMPARE(ReadFile(At("[ 生成的词库 ].txt")), Utf16Table({"中国\tkhlg", "中无\tkh"}));
    QVERIFY(ReadFile(At("[ error_词库生成 ].txt")).size() > 2);
    // A run with failures says so, with its count and the log's name.
    const QString told = services_->questions.last();
    QVERIFY2(told.startsWith(u"生成完成，但有 1 条错误，是否查看文件？|"_s), qPrintable(told));
    QVERIFY2(told.contains(u"已写入 2 行："_s + At("[ 生成的词库 ].txt")), qPrintable(told));
    QVERIFY2(told.contains(At("[ error_词库生成 ].txt")), qPrintable(told));
  }

  void exportsAndTheFrequencyOrder() {
    Open({"甲\tb", "乙\taa", "丙\ta"});
    services_->savePicks = {At("single")};
    window_->Dispatch(command::kExtractSingle);
    QCOMPARE(services_->messages.last(), u"导出完毕|导出用户单字码表数：3个。"_s);
    QVERIFY(QFileInfo::exists(At("single.txt")));
    services_->savePicks = {At("freq.txt")};
    Key(Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(ReadFile(At("freq.txt")), Utf16Table({"甲\t1", "乙\t2", "丙\t3"}));
    window_->Dispatch(command::kCodeOrder1);
    services_->openPicks = {At("freq.txt")};
    window_->Dispatch(command::kFrequencyOrder);
    QCOMPARE(Entries(), (QStringList{"甲", "乙", "丙"}));
  }

  void closeBoxAndEverySavePromptCanBeCancelled() {
    const QString path = Table({"中\tzh", "国\tgg"});
    const std::string bytes = ReadFile(path);
    QVERIFY(window_->OpenTable(path.toStdString()));
    Delete({0});
    // Cancel (also what an unanswered question gives) backs out of each.
    QVERIFY(!window_->close());
    QVERIFY(window_->isVisible());
    QCOMPARE(services_->questions.last(),
             u"是否保存当前文件？|打开文件的内容已经改变，是否保存这些修改?"_s);
    Key(Qt::Key_W, Qt::ControlModifier);
    Key(Qt::Key_O, Qt::ControlModifier);
    Key(Qt::Key_O, Qt::ControlModifier | Qt::AltModifier);
    Key(Qt::Key_X, Qt::AltModifier);
    QCOMPARE(services_->questions.size(), 6);
    QCOMPARE(services_->questions.last(),
             u"是否保存当前文件？|打开文件的内容已经改变，是否保存这些修改？"_s);
    QVERIFY(services_->pickerTitles.isEmpty());
    QVERIFY(services_->messages.isEmpty());
    QVERIFY(window_->isVisible());
    QCOMPARE(Entries(), QStringList{"国"});
    QVERIFY(store_->dirty());

    // No, then a cancelled picker or a file that cannot be read: the open
    // table stays as it was, changes and all.
    services_->yesNoCancel = {UiServices::Answer::kNo, UiServices::Answer::kNo};
    services_->openPicks = {QString(), At("t.doc")};
    WriteFile(At("t.doc"), "x\r\n");
    window_->Dispatch(command::kOpen);
    window_->Dispatch(command::kOpen);
    QCOMPARE(services_->messages.last(), u"打开失败|无法打开码表文件。"_s);
    QCOMPARE(services_->pickerTitles, (QStringList{"选择码表文件:", "选择码表文件:"}));
    QCOMPARE(Entries(), QStringList{"国"});
    QVERIFY(store_->dirty());
    QVERIFY(window_->action(command::kSave)->isEnabled());

    // A filter that hides every row still asks before the changes go.
    window_->filterBox()->setText(u"none"_s);
    services_->questions.clear();
    QVERIFY(!window_->close());
    QCOMPARE(services_->questions.size(), 1);

    // No closes without saving; Exit's Yes saves first, asking once.
    services_->yesNoCancel = {UiServices::Answer::kNo};
    QVERIFY(window_->close());
    QCOMPARE(ReadFile(path), bytes);
    window_->show();
    services_->questions.clear();
    services_->yesNoCancel = {UiServices::Answer::kYes};
    Key(Qt::Key_X, Qt::AltModifier);
    QCOMPARE(services_->questions.size(), 1);
    QCOMPARE(ReadFile(path), Utf16Table({"国\tgg"}));
    QVERIFY(!window_->isVisible());
  }

  // The rows listed before a filter that could not be made stay listed, and
  // no command acts on them while they are not the table's rows.
  void aFailedFilterKeepsThePreviousRowsAndSaysWhy() {
    test::FaultyFileSystem faulty(test::DiskFs());
    window_.reset();
    store_ = std::make_unique<TableStore>(faulty, *temp_);
    window_ = std::make_unique<MainWindow>(*store_, *services_, dir_->path().toStdString());
    Open({"甲\ta", "乙\tb", "丙\tc"});
    faulty.Reset();
    faulty.FailAt(test::IoStep::kOpen, 0);
    Delete({0});
    QCOMPARE(VisibleEntries(), (QStringList{"甲", "乙", "丙"}));
    QVERIFY(Label("resultLabel").contains(u"筛选失败："_s));
    Delete({1});
    QCOMPARE(Entries(), (QStringList{"乙", "丙"}));
    // The next filter works again and lists the table as it is.
    window_->filterBox()->setText(u"c"_s);
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
    Delete({0});
    window_->filterBox()->setText(u"a"_s);
    QVERIFY(!files().isEmpty());
    services_->yesNoCancel = {UiServices::Answer::kNo};
    window_->Dispatch(command::kClose);
    QCOMPARE(files(), QStringList());

    const QString sogou = At("sg.dat");
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
    const QString sogou = At("sg.dat");
    const std::string bytes = "a,1=啊\r\na,2=阿\r\nb,1=吧\r\n";
    WriteFile(sogou, bytes);
    services_->openPicks = {sogou};
    window_->Dispatch(command::kOpen);
    QCOMPARE(Entries(), (QStringList{"啊", "阿", "吧"}));
    QCOMPARE(window_->recentFiles(), QStringList{sogou});
    QVERIFY(Label("fileLabel").startsWith(u"sg.dat — "_s));
    QVERIFY(window_->windowTitle().endsWith(u" - sg.dat[*]"_s));
    Select({2});
    window_->Dispatch(command::kMoveToTop);
    const QString saved = At("sg.txt");
    services_->savePicks = {saved};
    QVERIFY(window_->Dispatch(command::kSave));
    QCOMPARE(ReadFile(sogou), bytes);
    QCOMPARE(ReadFile(saved), Utf16Table({"吧\tb", "啊\ta", "阿\ta"}));

    OnNextDialog([](QDialog* dialog) {
      for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        if (button->text() == u"浏览(&B)"_s) button->click();
      }
      dialog->reject();
    });
    window_->Dispatch(command::kCommonConversion);
    QCOMPARE(services_->tablePickerTitles.size(), 2);
  }

  // The keys walk the changes, each named, and the changed marker follows
  // the saved state; the rows of each state are the editor's affair.
  void undoAndRedoWalkBackToTheSavedState() {
    Open({"甲\tb", "乙\ta", "丙\tc", "丁\ta"});
    QLabel* changed = window_->findChild<QLabel*>(u"changedLabel"_s);
    QVERIFY(!window_->action(command::kUndo)->isEnabled());
    Select({0});
    Key(Qt::Key_Down, Qt::ControlModifier);
    QCOMPARE(Label("resultLabel"), u"下移一位：1 行"_s);
    window_->Dispatch(command::kCodeOrder1);
    Key(Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(changed->text(), QString());
    Select({1});
    services_->yesNo = {true};
    Key(Qt::Key_Delete);
    Select({0});
    OnNextDialog<ModifyDialog>([](ModifyDialog* modify) {
      modify->entryEdit()->setText(u"更长的词条"_s);
      modify->accept();
    });
    Key(Qt::Key_Return);
    QCOMPARE(changed->text(), u"已修改"_s);
    const QStringList last = VisibleEntries();

    const QStringList undone = {"已撤销：移动 1 行", "已撤销：重新排序（编码序1）",
                                u"已撤销：删除 1 行"_s, "已撤销：修改第 1 行"};
    for (int k = 3; k >= 0; --k) {
      Key(Qt::Key_Z, Qt::ControlModifier);
      QCOMPARE(changed->text().isEmpty(), k == 2);
      QCOMPARE(Label("resultLabel"), undone[k]);
    }
    QCOMPARE(VisibleEntries(), (QStringList{"甲", "乙", "丙", "丁"}));
    QVERIFY(!window_->action(command::kUndo)->isEnabled());
    Key(Qt::Key_Y, Qt::ControlModifier);
    Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(Label("resultLabel"), u"已重做：重新排序（编码序1）"_s);
    QVERIFY(changed->text().isEmpty());
    Key(Qt::Key_Y, Qt::ControlModifier);
    Key(Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(VisibleEntries(), last);
    QVERIFY(!window_->action(command::kRedo)->isEnabled());
  }

  void findGoesToEntriesUnderTheFilter() {
    Open({"中国\tzg", "中国人\tzgr", "国\tgg", "美国\tmg", "人国\tzr"});
    window_->filterBox()->setText(u"z"_s);  // 中国 中国人 人国
    QVERIFY(window_->findBar()->isHidden());
    Key(Qt::Key_F, Qt::ControlModifier);
    QVERIFY(!window_->findBar()->isHidden());
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(window_->findBox()));
    window_->findBox()->insert(u"人"_s);  // as the input method commits it
    // The count says which match the current row is, while it is one.
    QCOMPARE(window_->findCount()->text(), u"1/2"_s);
    QCOMPARE(Selected(), std::vector<int>{1});
    Key(Qt::Key_F3, Qt::NoModifier, window_->findBox());
    QCOMPARE(Selected(), std::vector<int>{2});
    QCOMPARE(window_->findCount()->text(), u"2/2"_s);
    Key(Qt::Key_Home);
    QCOMPARE(window_->findCount()->text(), u"2 行匹配"_s);
    Key(Qt::Key_F3);
    QCOMPARE(window_->findCount()->text(), u"1/2"_s);
    Key(Qt::Key_F3);
    Key(Qt::Key_Return, Qt::NoModifier, window_->findBox());  // wraps to the first
    QCOMPARE(Selected(), std::vector<int>{1});
    Key(Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(Selected(), std::vector<int>{2});
    // Keys typed into the find box are text, not commands.
    Key(Qt::Key_Delete, Qt::NoModifier, window_->findBox());
    QVERIFY(services_->questions.isEmpty());
    QTest::keyClicks(window_->findBox(), u"x"_s);
    QCOMPARE(window_->findCount()->text(), u"无匹配"_s);
    Key(Qt::Key_Escape, Qt::NoModifier, window_->findBox());
    QVERIFY(window_->findBar()->isHidden());
  }

  void rowBreaksAreRefusedInBothDialogs() {
    Open(Letters(2));
    Select({0});
    OnNextDialog<ModifyDialog>([this](ModifyDialog* modify) {
      modify->entryEdit()->setText(u"甲\t乙"_s);
      modify->accept();
      QVERIFY(modify->isVisible());
      QVERIFY(services_->messages.last().startsWith(u"错误的输入|编码和词条中不能含有制表符"_s));
      modify->entryEdit()->setText(u"甲"_s);
      modify->codeEdit()->setText(u"a\nb"_s);
      modify->accept();
      QVERIFY(modify->isVisible());
      modify->reject();
    });
    window_->Dispatch(command::kModify);
    OnNextDialog<AddEntryDialog>([this](AddEntryDialog* add) {
      add->codeEdit()->setText(u"x\ry"_s);
      add->entryEdit()->setText(u"新"_s);
      add->Import();
      QVERIFY(services_->messages.last().contains(u"制表符"_s));
      add->reject();
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
          const QRegularExpressionMatch access = QRegularExpression(u"&(.)"_s).match(item->text());
          if (access.hasMatch()) {
            QVERIFY2(!accessKeys.contains(access.captured(1).toUpper()), qPrintable(item->text()));
            accessKeys << access.captured(1).toUpper();
          }
          const qsizetype tab = item->text().indexOf(u'\t');
          if (tab < 0 || item->menu() || menu == window_->recentMenu()) continue;
          QString shown = item->text().mid(tab + 1);
          if (!shown.contains(u'+') && !shown.startsWith(u'F') && shown != u"Enter"_s &&
              shown != u"Ins"_s && shown != u"Del"_s && shown != u"Tab"_s) {
            continue;  // a hint such as "a-ab-b", not a key
          }
          shown.replace(u"↑"_s, u"Up"_s);
          shown.replace(u"↓"_s, u"Down"_s);
          shown.replace(u"Enter"_s, u"Return"_s);
          for (const QString& text : shown.split(u", "_s)) {
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
    QVERIFY(window_->action(command::kExportFrequency)->text().endsWith(u"\tCtrl+E"_s));
    QVERIFY(window_->action(command::kExtractSingle)->text().endsWith(u"\tCtrl+I"_s));
    QVERIFY(window_->action(command::kFocusCycle)->text().endsWith(u"\tTab"_s));
    QVERIFY(window_->action(command::kCommonConversion)
                ->text()
                .startsWith(u"常见码表格式转换(&X)..."_s));
  }

  // The file is rewritten as UTF-16LE without its comment lines: asked once,
  // before writing, and the status bar then shows what the file holds.
  void firstSaveOfAnotherEncodingAsksOnceAndTheStatusBarFollows() {
    const QString path = At("u8.txt");
    const std::string utf8 = "# 码表\n中\tzh\n国\tgg\n";
    WriteFile(path, utf8);
    QVERIFY(window_->OpenTable(path.toStdString()));
    QCOMPARE(Label("fileLabel"), u"u8.txt — "_s + QDir::toNativeSeparators(dir_->path()));
    QCOMPARE(Label("rowsLabel"), u"行数：2"_s);
    QCOMPARE(Label("leftOutLabel"), u"未列出的行（无TAB）：1"_s);
    QCOMPARE(Label("changedLabel"), QString());
    Select({0});
    QVERIFY(window_->Dispatch(command::kMoveToEnd));

    services_->confirm = {false};
    window_->Dispatch(command::kSave);
    QCOMPARE(ReadFile(path), utf8);
    QVERIFY(store_->dirty());
    QCOMPARE(services_->changes.size(), 1);
    QCOMPARE(services_->changes.last(), QStringList{"第1行：# 码表"});
    QCOMPARE(services_->changeButtons.last(), u"保存/取消"_s);
    QVERIFY(services_->questions.last().contains(u"UTF-8"_s));
    QVERIFY(services_->questions.last().contains(u"1行没有Tab"_s));
    QCOMPARE(Label("encodingLabel"), u"UTF-8"_s);

    services_->confirm = {true};
    window_->Dispatch(command::kSave);
    QCOMPARE(ReadFile(path), Utf16Table({"国\tgg", "中\tzh"}));
    QVERIFY(!store_->dirty());
    QCOMPARE(Label("encodingLabel"), u"UTF-16LE"_s);
    QCOMPARE(Label("leftOutLabel"), QString());

    // The file is now what the input method reads: no second question.
    Select({0});
    QVERIFY(window_->Dispatch(command::kMoveToEnd));
    window_->Dispatch(command::kSave);
    QCOMPARE(services_->changes.size(), 2);
    QCOMPARE(ReadFile(path), Utf16Table({"中\tzh", "国\tgg"}));
  }

  void settingsRememberTheWindowAndRecentFiles() {
    QSettings settings(At("settings.ini"), QSettings::IniFormat);
    auto window =
        std::make_unique<MainWindow>(*store_, *services_, dir_->path().toStdString(), &settings);
    window->show();
    QStringList paths;
    for (int k = 0; k < kRecentLimit + 2; ++k) {
      paths << Table({u"r%1\ta"_s.arg(k)}, u"f%1.txt"_s.arg(k));
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
    QCOMPARE(Entries(), QStringList{"r9"});
  }

  void aDroppedTableOpensAfterThePrompt() {
    Open(Letters(2));
    Delete({0});
    const QString path = Table({"落\tl"}, u"dropped.txt"_s);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window_.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    services_->yesNoCancel = {UiServices::Answer::kNo};
    QApplication::sendEvent(window_.get(), &drop);
    QTRY_COMPARE(Entries(), QStringList{"落"});
    QCOMPARE(services_->questions.last(),
             u"是否保存当前文件？|打开文件的内容已经改变，是否保存这些修改?"_s);
  }
  void qtSpeaksChineseAndTheFontsCoverExtensionB() {
    QTranslator translator;
    QVERIFY2(InstallQtChinese(translator), "qt6-translations-l10n is not installed");
    QMessageBox box(QMessageBox::Question, "t", "t",
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    QVERIFY(box.button(QMessageBox::Yes)->text().contains(u"是"_s));
    QVERIFY(box.button(QMessageBox::No)->text().contains(u"否"_s));
    QVERIFY(box.button(QMessageBox::Cancel)->text().contains(u"取消"_s));
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
