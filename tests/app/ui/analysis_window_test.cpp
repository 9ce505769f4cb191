#include "app/ui/analysis_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTreeWidget>
#include <set>

#include "app/editor_commands.h"
#include "window_fixture.h"

using namespace mirel;
using test::ReadFile;
using test::WriteFile;

class AnalysisWindowTest : public QObject, public test::WindowFixture {
  Q_OBJECT

 private:
  // Opens the table and the window through the menu command, with a weight
  // list file as its source before the first analysis the command queued
  // runs. 甲 and 乙 share the code a, 乙 second; 丙 alone under ab; 丁 under b.
  AnalysisWindow* OpenWindow() {
    WriteFile(At("t.txt"), "\xEF\xBB\xBF甲\ta\n乙\ta\n丙\tab\n丁\tb\n");
    const QString list = At("weights.txt");
    WriteFile(list, "甲\t100\n乙\t50\n丙\t30\n丁\t20\n甲乙\t40\n");
    if (!window_->OpenTable(At("t.txt").toStdString())) return nullptr;
    if (!window_->Dispatch(command::kAnalysis)) return nullptr;
    AnalysisWindow* analysis = window_->analysisWindow();
    if (analysis == nullptr) return nullptr;
    services_->openPicks.push_back(list);
    if (!analysis->ChooseSource(AnalysisWindow::kFileSource)) return nullptr;
    return analysis;
  }
  // The figure under `field` in the whole set's column.
  static QString Figure(AnalysisWindow* window, const QString& field) {
    QTableWidget* figures = window->figures();
    for (int row = 0; row < figures->rowCount(); ++row) {
      if (figures->item(row, 1)->text() == field) return figures->item(row, 2)->text();
    }
    return {};
  }

 private slots:
  void init() { WindowFixture::Open(); }
  void cleanup() { WindowFixture::Close(); }

  // A window beside the table, one at a time, that measures unsaved edits
  // and keeps its list when the set changes.
  void measuresTheRowsAsTheyAreNow() {
    QVERIFY(!window_->action(command::kAnalysis)->isEnabled());
    window_->Dispatch(command::kAnalysis);
    QVERIFY(window_->analysisWindow() == nullptr);
    AnalysisWindow* analysis = OpenWindow();
    QVERIFY(analysis != nullptr && analysis->isWindow() && analysis->isVisible());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QCOMPARE(analysis->windowTitle(), u"方案分析 - t.txt"_s);
    QVERIFY(services_->messages.isEmpty());
    // 乙 waits behind 甲: p = 50 / 200 of the single characters.
    QCOMPARE(Figure(analysis, u"selection_rate"_s), u"25.00%"_s);
    QCOMPARE(Figure(analysis, u"evaluated"_s), u"4"_s);
    QVERIFY(!analysis->heatMap()->empty());
    // The picture is drawn, not left blank.
    const QImage drawn = analysis->heatMap()->grab().toImage();
    std::set<QRgb> colours;
    for (int y = 0; y < drawn.height(); y += 4) {
      for (int x = 0; x < drawn.width(); x += 4) colours.insert(drawn.pixel(x, y));
    }
    QVERIFY2(colours.size() > 3, "the heat map drew nothing");

    // 乙 to the top, unsaved: now 甲 waits, p = 100 / 200.
    window_->entryList()->selectRow(1);
    QVERIFY(window_->Dispatch(command::kMoveToTop));
    QVERIFY(window_->Changed());
    analysis->reanalyzeButton()->click();
    QCOMPARE(Figure(analysis, u"selection_rate"_s), u"50.00%"_s);
    QVERIFY(window_->Changed());
    QVERIFY(services_->questions.isEmpty());

    // The set changes without reading the list again: its file may go.
    QVERIFY(QFile::remove(At("weights.txt")));
    analysis->setBox()->setCurrentIndex(2);
    emit analysis->setBox()->activated(2);
    QCOMPARE(Figure(analysis, u"evaluated"_s), u"5"_s);
    QVERIFY(services_->messages.isEmpty());

    // A file choice cancelled keeps the source; one that cannot be read
    // says so and keeps the last figures.
    QVERIFY(!analysis->ChooseSource(AnalysisWindow::kFileSource));
    QCOMPARE(analysis->sourceBox()->currentIndex(), AnalysisWindow::kFileSource);
    services_->openPicks.push_back(At("missing.txt"));
    QVERIFY(!analysis->ChooseSource(AnalysisWindow::kFileSource));
    QCOMPARE(services_->messages.size(), 1);
    QVERIFY(services_->messages[0].startsWith(u"方案分析|无法读取词频"_s));
    QCOMPARE(Figure(analysis, u"evaluated"_s), u"5"_s);

    // The command again brings the same window forward; closed, it stays.
    analysis->close();
    QVERIFY(window_->Dispatch(command::kAnalysis));
    QCOMPARE(window_->analysisWindow(), analysis);
    QVERIFY(analysis->isVisible());
    QCOMPARE(window_->findChildren<AnalysisWindow*>().size(), 1);

    // With the table closed there is nothing to measure.
    services_->yesNoCancel.push_back(UiServices::Answer::kNo);
    QVERIFY(window_->Dispatch(command::kClose));
    QVERIFY(!store_->IsOpen());
    services_->messages.clear();
    QVERIFY(!analysis->Analyze());
    QCOMPARE(services_->messages, QStringList{u"方案分析|没有打开的码表。"_s});
  }

  // Double-clicking a costly code shows exactly its rows, whatever filter
  // was typed before.
  void doubleClickingACostlyCodeFiltersTheTable() {
    AnalysisWindow* analysis = OpenWindow();
    QVERIFY(analysis != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(analysis));
    window_->filterBox()->setText(u"b"_s);
    QTreeWidget* costly = analysis->costlyCodes();
    QCOMPARE(costly->topLevelItemCount(), 1);
    QTreeWidgetItem* item = costly->topLevelItem(0);
    QCOMPARE(item->text(0), u"a"_s);
    QVERIFY(item->text(2).contains(u"乙（50）"_s));
    const QRect at = costly->visualItemRect(item);
    // As the window system delivers one: a click, then the double-click.
    QTest::mouseClick(costly->viewport(), Qt::LeftButton, {}, at.center());
    QTest::mouseDClick(costly->viewport(), Qt::LeftButton, {}, at.center());
    QCOMPARE(window_->filterBox()->text(), u"a"_s);
    QVERIFY(window_->exactBox()->isChecked());
    // 丙 (ab) would show under a prefix filter.
    QCOMPARE(VisibleEntries(), (QStringList{u"甲"_s, u"乙"_s}));
  }

  // The report and the heat map are written where the picker says, and a
  // failed write is told, not reported as saved.
  void savesTheReportAsHtmlAndSvg() {
    AnalysisWindow* analysis = OpenWindow();
    QVERIFY(analysis != nullptr);
    services_->savePicks = {At("report.html"), At("keys.svg")};
    QVERIFY(analysis->SaveHtml());
    QVERIFY(analysis->SaveSvg());
    QVERIFY(ReadFile(At("report.html")).starts_with("<!DOCTYPE html>"));
    // An XML declaration may come first; the root is the picture.
    std::string picture = ReadFile(At("keys.svg"));
    if (picture.starts_with("<?xml")) picture.erase(0, picture.find("?>\n") + 3);
    QVERIFY(picture.starts_with("<svg"));
    QCOMPARE(services_->suggestedNames, (QStringList{u"analysis.html"_s, u"heatmap.svg"_s}));
    QVERIFY(services_->messages.isEmpty());

    QVERIFY(!analysis->SaveSvg());  // cancelled
    services_->savePicks = {At("no/such/folder/keys.svg")};
    QVERIFY(!analysis->SaveSvg());
    QCOMPARE(services_->messages.size(), 1);
    QVERIFY(services_->messages[0].startsWith(u"方案分析|无法写入分析报告。"_s));
  }
};

QTEST_MAIN(AnalysisWindowTest)
#include "analysis_window_test.moc"
