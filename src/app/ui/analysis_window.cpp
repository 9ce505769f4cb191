#include "app/ui/analysis_window.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QSvgRenderer>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <span>

#include "platform/paths.h"

namespace mirel {
namespace {

using analysis::Analysis;
using analysis::Rates;

const QString kCaption = QStringLiteral("方案分析");
// More rows make the list slow to fill after every 重新分析, and nobody
// reads that far; the count says how many there are.
constexpr int kShownCostlyCodes = 1000;
constexpr int kShownFreeCodes = 5;

QString ToQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QString Grouped(uint64_t n) {
  QString digits = QString::number(n);
  for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, u',');
  return digits;
}

QString Percent(double share) { return QString::number(share * 100, 'f', 2) + u'%'; }

QString Weight(double weight) {
  // Counts are whole numbers in every built-in source; keep fractions visible.
  if (weight == static_cast<double>(static_cast<uint64_t>(weight)) && weight < 1e15) {
    return Grouped(static_cast<uint64_t>(weight));
  }
  return QString::number(weight, 'g', 6);
}

// One line of the figures: its Chinese name, the report's field name and how
// a Rates shows it.
struct Figure {
  const char16_t* name;
  const char* field;
  QString (*show)(const Rates&);
};

const Figure kFigures[] = {
    {u"评测词条", "evaluated", [](const Rates& r) { return Grouped(r.evaluated); }},
    {u"码表已有", "covered", [](const Rates& r) { return Grouped(r.covered); }},
    {u"覆盖率", "coverage", [](const Rates& r) { return Percent(r.coverage); }},
    {u"选重率", "selection_rate", [](const Rates& r) { return Percent(r.selectionRate); }},
    {u"调序后选重率", "selection_rate_sorted",
     [](const Rates& r) { return Percent(r.selectionRateSorted); }},
    {u"字均击键", "keys_per_char",
     [](const Rates& r) { return QString::number(r.keysPerChar, 'f', 3); }},
    {u"字均码长", "code_length_per_char",
     [](const Rates& r) { return QString::number(r.codeLengthPerChar, 'f', 3); }},
    {u"当量", "pair_time", [](const Rates& r) { return QString::number(r.pairTime, 'f', 3); }},
    {u"当量覆盖", "pair_time_coverage", [](const Rates& r) { return Percent(r.pairTimeCoverage); }},
    {u"左右互击", "hand_alternation", [](const Rates& r) { return Percent(r.handAlternation); }},
    {u"同指", "same_finger", [](const Rates& r) { return Percent(r.sameFinger); }},
    {u"同键", "same_key", [](const Rates& r) { return Percent(r.sameKey); }},
};

QString BandName(const analysis::Band& band) {
  if (band.lastRank == 0) return QStringLiteral("%1–").arg(band.firstRank);
  return QStringLiteral("%1–%2").arg(band.firstRank).arg(band.lastRank);
}

// Resets the busy cursor on every way out of a load.
class BusyCursor {
 public:
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

// The store's rows as views into its working data, in the table's order.
// Valid until the store next changes.
std::vector<analysis::TableRow> ViewRows(const TableStore& store) {
  std::vector<analysis::TableRow> rows;
  const uint32_t count = store.RowCount();
  rows.reserve(count);
  for (uint32_t i = 0; i < count; ++i) rows.push_back(analysis::TableRow::Of(store.DataRowText(i)));
  return rows;
}

}  // namespace

HeatMapView::HeatMapView(QWidget* parent) : QWidget(parent), renderer_(new QSvgRenderer(this)) {
  setMinimumSize(320, 140);
}

HeatMapView::~HeatMapView() = default;

bool HeatMapView::Show(const QByteArray& svg) {
  const bool loaded = renderer_->load(svg);
  if (!loaded) renderer_->load(QByteArray());
  updateGeometry();
  update();
  return loaded;
}

bool HeatMapView::empty() const { return !renderer_->isValid(); }

QSize HeatMapView::sizeHint() const {
  const QSize drawn = renderer_->isValid() ? renderer_->defaultSize() : QSize();
  return drawn.isValid() ? drawn : QSize(640, 280);
}

void HeatMapView::paintEvent(QPaintEvent*) {
  if (!renderer_->isValid()) return;
  QSizeF size = renderer_->viewBoxF().size();
  if (size.isEmpty()) size = renderer_->defaultSize();
  if (size.isEmpty()) return;
  size.scale(this->size(), Qt::KeepAspectRatio);
  const QPointF at((width() - size.width()) / 2, (height() - size.height()) / 2);
  QPainter painter(this);
  renderer_->render(&painter, QRectF(at, size));
}

AnalysisWindow::AnalysisWindow(QWidget* parent, TableStore& store, UiServices& services,
                               ShowCode showCode)
    : QWidget(parent, Qt::Window),
      store_(store),
      services_(services),
      showCode_(std::move(showCode)) {
  setObjectName(QStringLiteral("analysisWindow"));
  setWindowTitle(kCaption);
  resize(900, 700);

  sourceBox_ = new QComboBox(this);
  sourceBox_->setObjectName(QStringLiteral("analysisSource"));
  sourceBox_->addItem(QStringLiteral("essay（常用词语）"), QStringLiteral("essay"));
  sourceBox_->addItem(QStringLiteral("jieba（分词语料）"), QStringLiteral("jieba"));
  sourceBox_->addItem(QStringLiteral("pinlu（汉字频率）"), QStringLiteral("pinlu"));
  sourceBox_->addItem(QStringLiteral("文件..."));
  setBox_ = new QComboBox(this);
  setBox_->setObjectName(QStringLiteral("analysisSet"));
  setBox_->addItem(QStringLiteral("单字"), static_cast<int>(analysis::EvaluatedSet::kChars));
  setBox_->addItem(QStringLiteral("词"), static_cast<int>(analysis::EvaluatedSet::kWords));
  setBox_->addItem(QStringLiteral("全部"), static_cast<int>(analysis::EvaluatedSet::kAll));
  reanalyze_ = new QPushButton(QStringLiteral("重新分析(&R)"), this);
  reanalyze_->setObjectName(QStringLiteral("reanalyze"));
  saveHtml_ = new QPushButton(QStringLiteral("保存HTML(&H)..."), this);
  saveHtml_->setObjectName(QStringLiteral("saveHtml"));
  saveSvg_ = new QPushButton(QStringLiteral("保存SVG(&V)..."), this);
  saveSvg_->setObjectName(QStringLiteral("saveSvg"));
  saveHtml_->setEnabled(false);
  saveSvg_->setEnabled(false);

  auto* controls = new QHBoxLayout;
  auto* sourceLabel = new QLabel(QStringLiteral("词频来源(&F)："), this);
  sourceLabel->setBuddy(sourceBox_);
  auto* setLabel = new QLabel(QStringLiteral("评测范围(&S)："), this);
  setLabel->setBuddy(setBox_);
  controls->addWidget(sourceLabel);
  controls->addWidget(sourceBox_);
  controls->addWidget(setLabel);
  controls->addWidget(setBox_);
  controls->addWidget(reanalyze_);
  controls->addStretch();
  controls->addWidget(saveHtml_);
  controls->addWidget(saveSvg_);

  source_ = new QLabel(this);
  source_->setObjectName(QStringLiteral("analysisSourceLine"));
  source_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  status_ = new QLabel(QStringLiteral("尚未分析。"), this);
  status_->setObjectName(QStringLiteral("analysisStatus"));

  figures_ = new QTableWidget(this);
  figures_->setObjectName(QStringLiteral("analysisFigures"));
  figures_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  figures_->verticalHeader()->hide();
  figures_->verticalHeader()->setDefaultSectionSize(figures_->fontMetrics().height() + 6);
  heatMap_ = new HeatMapView(this);
  heatMap_->setObjectName(QStringLiteral("heatMap"));
  costly_ = new QTreeWidget(this);
  costly_->setObjectName(QStringLiteral("costlyCodes"));
  costly_->setRootIsDecorated(false);
  costly_->setUniformRowHeights(true);
  costly_->setHeaderLabels({QStringLiteral("编码"), QStringLiteral("代价"),
                            QStringLiteral("词条（权重）"), QStringLiteral("可改用的空码")});
  costly_->setToolTip(QStringLiteral("双击编码，在码表中筛选出它的各行"));

  auto* upper = new QSplitter(Qt::Horizontal, this);
  upper->addWidget(figures_);
  upper->addWidget(heatMap_);
  // The figures' names and the whole set's column readable at first sight.
  upper->setSizes({440, 440});
  auto* split = new QSplitter(Qt::Vertical, this);
  split->addWidget(upper);
  split->addWidget(costly_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(controls);
  layout->addWidget(source_);
  layout->addWidget(split, 1);
  layout->addWidget(status_);

  connect(sourceBox_, &QComboBox::activated, this, [this](int index) { ChooseSource(index); });
  connect(setBox_, &QComboBox::activated, this, [this] { Analyze(); });
  connect(reanalyze_, &QPushButton::clicked, this, [this] { Analyze(); });
  connect(saveHtml_, &QPushButton::clicked, this, [this] { SaveHtml(); });
  connect(saveSvg_, &QPushButton::clicked, this, [this] { SaveSvg(); });
  connect(costly_, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item) { CostlyCodeChosen(item); });
}

AnalysisWindow::~AnalysisWindow() = default;

void AnalysisWindow::SetTableName(const QString& name) {
  setWindowTitle(name.isEmpty() ? kCaption : kCaption + QStringLiteral(" - ") + name);
}

bool AnalysisWindow::ChooseSource(int index) {
  if (index < 0 || index >= sourceBox_->count()) return false;
  if (index == kFileSource) {
    const QString picked = services_.PickOpenFile(this, QStringLiteral("选择词频文件:"));
    if (picked.isEmpty()) {
      sourceBox_->setCurrentIndex(sourceIndex_);
      return false;
    }
    sourceFile_ = picked;
    sourceBox_->setItemText(kFileSource,
                            QStringLiteral("文件：%1").arg(QFileInfo(picked).fileName()));
  }
  sourceBox_->setCurrentIndex(index);
  sourceIndex_ = index;
  return Analyze();
}

bool AnalysisWindow::EnsureList() {
  const int index = sourceBox_->currentIndex();
  const QString key = index == kFileSource ? sourceFile_ : sourceBox_->itemData(index).toString();
  if (list_ && key == listKey_) return true;
  list_.reset();
  listKey_.clear();
  status_->setText(QStringLiteral("正在读取词频：%1 ...").arg(key));
  // The label shows before the read, which can take a second.
  status_->repaint();
  BusyCursor busy;
  Result<analysis::WeightList> read = [&]() -> Result<analysis::WeightList> {
    if (index == kFileSource)
      return analysis::ReadWeightList(store_.fs(), PathFromUtf16(key.toStdU16String()));
    // Which script the list is read in depends on the table's entries.
    return analysis::LoadBuiltInSource(store_.fs(), key.toStdString(), analysis::Script::kAuto,
                                       ViewRows(store_), UserCacheFolder());
  }();
  if (!read.IsOk()) {
    ShowFailure(
        QStringLiteral("无法读取词频：%1").arg(QString::fromStdString(read.status().message())));
    return false;
  }
  list_ = std::move(read).value();
  listKey_ = key;
  return true;
}

bool AnalysisWindow::Analyze() {
  if (!store_.IsOpen()) {
    ShowFailure(QStringLiteral("没有打开的码表。"));
    return false;
  }
  if (!EnsureList()) return false;
  QElapsedTimer timer;
  timer.start();
  analysis::AnalysisOptions options;
  options.set = static_cast<analysis::EvaluatedSet>(setBox_->currentData().toInt());
  analysis_ = analysis::AnalyzeRows(ViewRows(store_), *list_, options);
  ShowAnalysis(timer.elapsed());
  return true;
}

void AnalysisWindow::ShowFailure(const QString& text) {
  status_->setText(text);
  services_.ShowMessage(this, text, kCaption, UiServices::Icon::kError);
}

void AnalysisWindow::ShowAnalysis(qint64 milliseconds) {
  const Analysis& a = *analysis_;
  source_->setText(QStringLiteral("来源：%1，%2 条；码表覆盖来源权重的 %3；最长码长 %4")
                       .arg(QString::fromStdString(a.source), Grouped(a.sourceEntries),
                            Percent(a.sourceShareCovered))
                       .arg(a.maxLength));
  ShowFigures();
  heatMap_->Show(QByteArray::fromStdString(analysis::KeyboardSvg(a)));
  ShowCostlyCodes();
  saveHtml_->setEnabled(true);
  saveSvg_->setEnabled(true);
  status_->setText(QStringLiteral("已分析 %1 行，用时 %2 毫秒。")
                       .arg(Grouped(store_.RowCount()))
                       .arg(milliseconds));
}

void AnalysisWindow::ShowFigures() {
  const Analysis& a = *analysis_;
  const int columns = 3 + static_cast<int>(a.bands.size());
  figures_->clear();
  figures_->setColumnCount(columns);
  figures_->setRowCount(static_cast<int>(std::size(kFigures)));
  QStringList headers{QStringLiteral("指标"), QStringLiteral("名称"), QStringLiteral("全部")};
  for (const analysis::Band& band : a.bands) headers << BandName(band);
  figures_->setHorizontalHeaderLabels(headers);
  for (int row = 0; row < static_cast<int>(std::size(kFigures)); ++row) {
    const Figure& figure = kFigures[row];
    figures_->setItem(row, 0, new QTableWidgetItem(QString::fromUtf16(figure.name)));
    figures_->setItem(row, 1, new QTableWidgetItem(QString::fromLatin1(figure.field)));
    figures_->setItem(row, 2, new QTableWidgetItem(figure.show(a.rates)));
    for (size_t b = 0; b < a.bands.size(); ++b) {
      figures_->setItem(row, 3 + static_cast<int>(b),
                        new QTableWidgetItem(figure.show(a.bands[b].rates)));
    }
    for (int c = 2; c < columns; ++c) {
      figures_->item(row, c)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
  }
  figures_->resizeColumnsToContents();
}

void AnalysisWindow::ShowCostlyCodes() {
  const std::vector<analysis::CostlyCode>& codes = analysis_->costlyCodes;
  costly_->clear();
  const size_t shown = std::min(codes.size(), static_cast<size_t>(kShownCostlyCodes));
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<qsizetype>(shown));
  for (size_t k = 0; k < shown; ++k) {
    const analysis::CostlyCode& code = codes[k];
    QStringList rows;
    for (const analysis::CostlyRow& row : code.rows) {
      rows << QStringLiteral("%1（%2）").arg(ToQString(row.entry), Weight(row.weight));
    }
    QStringList free;
    for (size_t f = 0; f < code.freeCodes.size() && f < kShownFreeCodes; ++f) {
      free << ToQString(code.freeCodes[f]);
    }
    auto* item = new QTreeWidgetItem({ToQString(code.code), Percent(code.cost),
                                      rows.join(QStringLiteral("  ")), free.join(u' ')});
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    items << item;
  }
  costly_->addTopLevelItems(items);
  costly_->headerItem()->setText(
      0,
      codes.size() > shown
          ? QStringLiteral("编码（前 %1 个，共 %2 个）").arg(Grouped(shown), Grouped(codes.size()))
          : QStringLiteral("编码（%1 个）").arg(Grouped(codes.size())));
  costly_->resizeColumnToContents(0);
  costly_->resizeColumnToContents(1);
}

void AnalysisWindow::CostlyCodeChosen(QTreeWidgetItem* item) {
  if (item == nullptr || !showCode_) return;
  showCode_(item->text(0));
}

bool AnalysisWindow::SaveReport(const QString& title, const QString& suggested,
                                const std::string& bytes) {
  const QString picked = services_.PickSaveFile(this, title, suggested);
  if (picked.isEmpty()) return false;
  const std::filesystem::path path = PathFromUtf16(picked.toStdU16String());
  Status written = store_.fs().WriteWhole(path, std::as_bytes(std::span(bytes)));
  if (!written.IsOk()) {
    services_.ShowMessage(this, QStringLiteral("无法写入分析报告。"), kCaption,
                          UiServices::Icon::kError, QString::fromStdString(written.message()));
    return false;
  }
  status_->setText(QStringLiteral("已保存：%1").arg(picked));
  return true;
}

bool AnalysisWindow::SaveHtml() {
  if (!analysis_) return false;
  return SaveReport(QStringLiteral("保存分析报告:"), QStringLiteral("analysis.html"),
                    analysis::AnalysisHtml(*analysis_, nullptr));
}

bool AnalysisWindow::SaveSvg() {
  if (!analysis_) return false;
  return SaveReport(QStringLiteral("保存键位热力图:"), QStringLiteral("heatmap.svg"),
                    analysis::KeyboardSvg(*analysis_));
}

}  // namespace mirel
