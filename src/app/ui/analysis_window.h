// 方案分析: how well the open table types real text, in a window beside the
// table. The user picks a weight list (a built-in source or a file) and the
// set of entries; the window shows the figures, the keyboard heat map and the
// codes whose second candidates cost the most. Double-clicking such a code
// shows it in the table; 重新分析 measures the rows as they are now, unsaved
// edits included, against the list already loaded.
//
// Not modal: the main window owns it and keeps one. It borrows the store and
// the services, which must outlive it. Interface thread only: the list is
// read on it under a busy cursor, since the FileSystem serves one thread.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

#include "analysis/typing_analysis.h"
#include "platform/ui/ui_services.h"
#include "store/table_store.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSvgRenderer;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace mirel {

// The heat map, scaled to the widget with its proportions kept.
class HeatMapView : public QWidget {
  Q_OBJECT

 public:
  explicit HeatMapView(QWidget* parent);
  ~HeatMapView() override;
  // False when `svg` is not a picture Qt SVG can draw; the view is then empty.
  bool Show(const QByteArray& svg);
  bool empty() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  QSize sizeHint() const override;

 private:
  QSvgRenderer* renderer_;
};

class AnalysisWindow : public QWidget {
  Q_OBJECT

 public:
  // Shows the rows of one code in the table (an exact filter on it).
  using ShowCode = std::function<void(const QString& code)>;
  // The built-in sources, then the item that asks for a file.
  static constexpr int kFileSource = 3;

  AnalysisWindow(QWidget* parent, TableStore& store, UiServices& services, ShowCode showCode);
  ~AnalysisWindow() override;

  // The title names the table measured, as the user knows it.
  void SetTableName(const QString& name);
  // Measures the open table's rows, reading the chosen list first when it is
  // not loaded yet. False, with the reason shown in the window, when no
  // table is open or the list cannot be read; the last figures then stay.
  bool Analyze();
  // Chooses a source by its item (kFileSource asks for the file) and
  // analyses with it. A cancelled file choice keeps the previous source.
  bool ChooseSource(int index);
  // Ask for a file and write the report or the heat map there; false when
  // cancelled, before any analysis, or when the write failed (told).
  bool SaveHtml();
  bool SaveSvg();

  // The last analysis; null before the first.
  const analysis::Analysis* analysis() const { return analysis_ ? &*analysis_ : nullptr; }
  QComboBox* sourceBox() const { return sourceBox_; }
  QComboBox* setBox() const { return setBox_; }
  QPushButton* reanalyzeButton() const { return reanalyze_; }
  QTableWidget* figures() const { return figures_; }
  HeatMapView* heatMap() const { return heatMap_; }
  QTreeWidget* costlyCodes() const { return costly_; }
  QLabel* statusLabel() const { return status_; }

 private:
  // The list of the chosen source, read when the choice changed.
  bool EnsureList();
  void ShowAnalysis(qint64 milliseconds);
  void ShowFigures();
  void ShowCostlyCodes();
  void ShowFailure(const QString& text);
  bool SaveReport(const QString& title, const QString& suggested, const std::string& bytes);
  void CostlyCodeChosen(QTreeWidgetItem* item);

  TableStore& store_;
  UiServices& services_;
  ShowCode showCode_;
  QComboBox* sourceBox_ = nullptr;
  QComboBox* setBox_ = nullptr;
  QPushButton* reanalyze_ = nullptr;
  QPushButton* saveHtml_ = nullptr;
  QPushButton* saveSvg_ = nullptr;
  QLabel* source_ = nullptr;
  QLabel* status_ = nullptr;
  QTableWidget* figures_ = nullptr;
  HeatMapView* heatMap_ = nullptr;
  QTreeWidget* costly_ = nullptr;
  // The item shown before the current one, to go back to when a file choice
  // is cancelled.
  int sourceIndex_ = 0;
  QString sourceFile_;
  // What the loaded list was read from ("essay", or the file); empty: none.
  QString listKey_;
  std::optional<analysis::WeightList> list_;
  std::optional<analysis::Analysis> analysis_;
};

}  // namespace mirel
