#include "app/ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelection>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <array>

#include "analysis/statistics.h"
#include "app/editor_commands.h"
#include "app/ui/chinese_ui.h"
#include "app/ui/entry_dialogs.h"
#include "convert/linux_formats.h"
#include "convert/ui/common_conversion_dialog.h"
#include "convert/ui/linux_header_dialog.h"
#include "convert/ui/rule_conversion_dialog.h"
#include "generate/ui/command_tips_dialog.h"
#include "generate/ui/generation_dialogs.h"
#include "generate/ui/merge_dialog.h"
#include "ime/ui/installed_dialog.h"
#include "platform/paths.h"
#include "platform/utf16.h"
#include "platform/version.h"
#include "store/compiled_table.h"
#include "store/save_check.h"
#include "store/text_file.h"

namespace mirel {

namespace {

using namespace command;

const std::array<const char16_t*, 4> kMenuTitles = {u"文件(&F)", u"编辑(&E)", u"工具(&T)",
                                                    u"帮助(&H)"};

const QString kSaveFailure = QStringLiteral("保存文件失败，请确认对当前目录的文件写入权限。");
const QString kSaveFailureCaption = QStringLiteral("无法保存");
const QString kSaveQuestionCaption = QStringLiteral("是否保存当前文件？");
const QString kSaveOnClose = QStringLiteral("打开文件的内容已经改变，是否保存这些修改?");
const QString kSaveOnExit = QStringLiteral("打开文件的内容已经改变，是否保存这些修改？");
const QString kTablePickerTitle = QStringLiteral("选择码表文件:");

QString ToQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string ToU16(const QString& text) { return text.toStdU16String(); }

std::filesystem::path ToPath(const QString& text) { return PathFromUtf16(ToU16(text)); }

QString FromPath(const std::filesystem::path& path) { return ToQString(PathToUtf16(path)); }

// 49906 -> "49,906".
QString Grouped(uint64_t n) {
  QString digits = QString::number(n);
  for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, u',');
  return digits;
}

QFont ControlFont() {
  QFont font;
  font.setFamilies(EditorFontFamilies());
  font.setPixelSize(12);
  font.setWeight(QFont::Normal);
  return font;
}

QString EncodingName(const TableStore& store) {
  if (store.fromCompiled()) return QStringLiteral("编译码表");
  switch (store.encoding()) {
    case TextEncoding::kUtf8Bom:
      return QStringLiteral("UTF-8 (BOM)");
    case TextEncoding::kUtf16Le:
      return QStringLiteral("UTF-16LE");
    case TextEncoding::kUtf16Be:
      return QStringLiteral("UTF-16BE");
    case TextEncoding::kUtf8:
      return QStringLiteral("UTF-8");
    case TextEncoding::kLegacy:
      return QStringLiteral("GBK");
  }
  return {};
}

QKeyCombination Normalized(QKeyCombination key) {
  Qt::KeyboardModifiers modifiers = key.keyboardModifiers() & ~Qt::KeypadModifier;
  Qt::Key k = key.key() == Qt::Key_Enter ? Qt::Key_Return : key.key();
  return QKeyCombination(modifiers, k);
}

std::vector<QKeyCombination> ParseKeys(std::string_view keys) {
  std::vector<QKeyCombination> combinations;
  const QString text = QString::fromLatin1(keys.data(), static_cast<qsizetype>(keys.size()));
  for (const QString& part : text.split(u'|', Qt::SkipEmptyParts)) {
    const QKeySequence sequence = QKeySequence::fromString(part, QKeySequence::PortableText);
    if (!sequence.isEmpty()) combinations.push_back(Normalized(sequence[0]));
  }
  return combinations;
}

// The key as the menu shows it: "Enter" for Return, arrows as arrows.
QString KeyText(QKeyCombination key) {
  QString text = QKeySequence(key).toString(QKeySequence::NativeText);
  const QString name = QKeySequence(key.key()).toString(QKeySequence::NativeText);
  QString shown = name;
  if (key.key() == Qt::Key_Return) shown = QStringLiteral("Enter");
  if (key.key() == Qt::Key_Up) shown = QStringLiteral("↑");
  if (key.key() == Qt::Key_Down) shown = QStringLiteral("↓");
  text.chop(name.size());
  return text + shown;
}

// How a file the window is asked to open is read.
struct Reader {
  enum class Kind { kStore, kLinux, kCommon } kind = Kind::kStore;
  linux_table::LinuxFormat linux = linux_table::LinuxFormat::kFcitxText;
  TableFormat common = TableFormat::kMirel;
};

// Enough for every header and for the sample lines format detection reads.
constexpr size_t kDetectionBytes = size_t{1} << 16;

// By the bytes, since a name says little: fcitx5 and ibus-table sources are
// .txt files too, and Rime's have two suffixes. A compiled table, a table of
// a Linux input method (by its header), then one of the common line formats
// other than Mirel's own (by its first lines); anything else is read as a
// Mirel text.
Result<Reader> ChooseReader(FileSystem& fs, const std::filesystem::path& path) {
  Result<std::string> read = fs.ReadHead(path, kDetectionBytes);
  if (!read.IsOk()) return read.status();
  std::string head = std::move(read).value();
  if (HasCompiledTableHeader(std::as_bytes(std::span(head))) || HasExtension(path, u".ktb")) {
    return Reader{};
  }
  if (std::optional<linux_table::LinuxFormat> linux = linux_table::DetectLinuxFormat(head)) {
    return Reader{Reader::Kind::kLinux, *linux, {}};
  }
  // A character cut in two at the end would change how the rest decodes.
  if (head.size() == kDetectionBytes) head.resize(head.rfind('\n') + 1);
  const Detection detection = DetectFormat(DecodeText(head).text);
  if (detection.format && *detection.format != TableFormat::kMirel) {
    return Reader{Reader::Kind::kCommon, {}, *detection.format};
  }
  return Reader{};
}

// An undo step as the undo and redo results name it.
QString ChangeText(const ChangeName& change) {
  switch (change.what) {
    case ChangeName::What::kDelete:
      return QStringLiteral("删除 %1 行").arg(Grouped(change.rows));
    case ChangeName::What::kInsert:
      return QStringLiteral("添加 %1 行").arg(Grouped(change.rows));
    case ChangeName::What::kMove:
      return QStringLiteral("移动 %1 行").arg(Grouped(change.rows));
    case ChangeName::What::kModify:
      return QStringLiteral("修改第 %1 行").arg(Grouped(uint64_t{change.rows} + 1));
    case ChangeName::What::kReorder:
      return QStringLiteral("重新排序（%1）").arg(ToQString(ShownName(change.ordering)));
    case ChangeName::What::kFrequencyOrder:
      return QStringLiteral("重新排序（依据词频表）");
    case ChangeName::What::kRemoveDuplicates:
      return QStringLiteral("删除重复 %1 行").arg(Grouped(change.rows));
  }
  return {};
}

// A working text beside the open table's, never over it.
std::filesystem::path WorkingText(const TableStore& store, std::u16string_view stem) {
  const std::filesystem::path first = store.temp().TempPath(std::u16string(stem) + u".txt");
  if (store.currentPath() != first) return first;
  return store.temp().TempPath(std::u16string(stem) + u"_2.txt");
}

}  // namespace

void MainWindow::LinuxHeaderCommand() {
  // Only the Linux input methods' tables have a header to edit.
  if (!store_.IsOpen() || !linuxSession_.active()) return;
  linuxSession_.EditHeader(this);
  UpdateState();
}

void MainWindow::CommonConversionCommand() { ShowDialog<CommonConversionDialog>(store_.temp()); }

void MainWindow::RuleConversionCommand() { ShowDialog<RuleConversionDialog>(ruleConversion_); }

void MainWindow::SingleCharactersCommand() {
  ShowDialog<SingleCharactersDialog>(singleCharacters_, programFolder_);
}

void MainWindow::MergeCommand() { ShowDialog<MergeDialog>(merge_, programFolder_); }

void MainWindow::WordLibraryCommand() {
  ShowDialog<WordLibraryDialog>(wordLibrary_, programFolder_);
}

void MainWindow::CommandTipsCommand() { ShowDialog<CommandTipsDialog>(store_.temp()); }

void MainWindow::AboutCommand() {
  AboutDialog about(this);
  about.exec();
}

MainWindow::MainWindow(TableStore& store, UiServices& services, std::filesystem::path programFolder,
                       QSettings* settings, QWidget* parent)
    : QMainWindow(parent),
      store_(store),
      services_(services),
      programFolder_(std::move(programFolder)),
      settings_(settings),
      editor_(store),
      model_(store) {
  setObjectName(QStringLiteral("mainWindow"));
  // The conversion's source is chosen by the user; nothing in the program
  // folder is a table to convert.
  ruleConversion_.sourcePath.clear();
  setWindowTitle(ToQString(kWindowTitle));
  setWindowIcon(ProgramIcon());
  setAcceptDrops(true);
  central_ = new QWidget(this);
  setCentralWidget(central_);
  const QFont font = ControlFont();

  filterLabel_ = new QLabel(QStringLiteral("  筛选编码："), central_);
  filterBox_ = new QLineEdit(central_);
  filterBox_->setObjectName(QStringLiteral("filterBox"));
  filterBox_->setMaxLength(kFilterLimit);
  exactBox_ = new QCheckBox(QStringLiteral("完全匹配的筛选"), central_);
  exactBox_->setObjectName(QStringLiteral("exactBox"));
  BuildNoticeBar();
  BuildFindBar();
  list_ = new QTableView(central_);
  list_->setObjectName(QStringLiteral("entryList"));
  list_->setModel(&model_);
  list_->setItemDelegate(new EntryCellDelegate(list_));
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setTabKeyNavigation(false);
  list_->setWordWrap(false);
  list_->setTextElideMode(Qt::ElideNone);
  list_->setShowGrid(false);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  list_->verticalHeader()->hide();
  // A fixed row height keeps a million rows cheap: nothing is measured.
  list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  list_->verticalHeader()->setDefaultSectionSize(QFontMetrics(font).height() + 6);
  list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  for (QWidget* w : {static_cast<QWidget*>(filterLabel_), static_cast<QWidget*>(filterBox_),
                     static_cast<QWidget*>(exactBox_), static_cast<QWidget*>(list_),
                     static_cast<QWidget*>(findBox_)}) {
    w->setFont(font);
    // Codes are typed with the keyboard as it is: the input method stays off.
    w->setAttribute(Qt::WA_InputMethodEnabled, false);
  }
  // Entries are looked for as they are written, in Chinese.
  findBox_->setAttribute(Qt::WA_InputMethodEnabled, true);
  const std::array<int, 4> widths = {200, 400, 90, 90};
  for (int c = 0; c < 4; ++c) list_->setColumnWidth(c, widths[c]);
  // The entry column takes the width the others leave.
  list_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);

  connect(filterBox_, &QLineEdit::textChanged, this, [this] { Refresh(); });
  connect(exactBox_, &QCheckBox::toggled, this, [this] { Refresh(); });
  connect(list_, &QTableView::customContextMenuRequested, this, &MainWindow::ShowContextMenu);
  connect(list_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
    if (!findBar_->isHidden() && !findCountStale_) ShowFindCount();
  });
  connect(list_, &QTableView::doubleClicked, this, [this] {
    if (RowsVisible()) ModifyCommand();
  });

  for (const EditorCommand& c : EditorCommands()) {
    for (QKeyCombination key : ParseKeys(c.keys)) keys_.emplace_back(key, c.number);
  }
  BuildMenus();
  BuildStatusBar();
  SetTableItemsEnabled(false);
  UpdateState();

  resize(800, 600);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move(std::max(0, (area.width() - 800) / 2), std::max(0, (area.height() - 600) / 2));
  }
  RestoreSettings();
  qApp->installEventFilter(this);
}

MainWindow::~MainWindow() {
  qApp->removeEventFilter(this);
  RemoveScratchFiles();
}

// What the window leaves in the private folder besides the store's own
// working files, which the store removes when it closes the table.
void MainWindow::RemoveScratchFiles() {
  for (std::u16string_view name :
       {kStatisticsReportName, kInstalledCopyName, kIntermediateFileName}) {
    const std::filesystem::path file = store_.temp().TempPath(name);
    if (!file.empty()) (void)store_.fs().Remove(file);
  }
}

void MainWindow::BuildFindBar() {
  findBar_ = new QWidget(central_);
  findBar_->setObjectName(QStringLiteral("findBar"));
  auto* row = new QHBoxLayout(findBar_);
  row->setContentsMargins(4, 0, 4, 0);
  findBox_ = new QLineEdit(findBar_);
  findBox_->setObjectName(QStringLiteral("findBox"));
  findCount_ = new QLabel(findBar_);
  findCount_->setObjectName(QStringLiteral("findCount"));
  auto* previous = new QPushButton(QStringLiteral("上一个"), findBar_);
  auto* next = new QPushButton(QStringLiteral("下一个"), findBar_);
  auto* close = new QPushButton(QStringLiteral("关闭"), findBar_);
  for (QPushButton* b : {previous, next, close}) b->setFocusPolicy(Qt::NoFocus);
  row->addWidget(new QLabel(QStringLiteral("查找词条："), findBar_));
  row->addWidget(findBox_, 1);
  row->addWidget(findCount_);
  row->addWidget(previous);
  row->addWidget(next);
  row->addWidget(close);
  connect(findBox_, &QLineEdit::textChanged, this, [this] {
    findCountStale_ = true;
    FindStep(true, true);
  });
  connect(previous, &QPushButton::clicked, this, [this] { FindStep(false, false); });
  connect(next, &QPushButton::clicked, this, [this] { FindStep(true, false); });
  connect(close, &QPushButton::clicked, this, [this] {
    findBar_->hide();
    LayoutChildren();
    list_->setFocus();
  });
  findBar_->hide();
}

// Lines an open left out are told here rather than in a box: the table is
// usable as it is, and the line numbers are there for whoever wants them.
void MainWindow::BuildNoticeBar() {
  noticeBar_ = new QWidget(central_);
  noticeBar_->setObjectName(QStringLiteral("noticeBar"));
  auto* row = new QHBoxLayout(noticeBar_);
  row->setContentsMargins(4, 0, 4, 0);
  noticeText_ = new QLabel(noticeBar_);
  noticeText_->setObjectName(QStringLiteral("noticeText"));
  auto* details = new QPushButton(QStringLiteral("查看行号"), noticeBar_);
  details->setObjectName(QStringLiteral("noticeDetails"));
  auto* close = new QPushButton(QStringLiteral("关闭"), noticeBar_);
  close->setObjectName(QStringLiteral("noticeClose"));
  for (QPushButton* b : {details, close}) b->setFocusPolicy(Qt::NoFocus);
  row->addWidget(noticeText_, 1);
  row->addWidget(details);
  row->addWidget(close);
  connect(details, &QPushButton::clicked, this, [this] {
    if (!store_.IsOpen()) return;
    services_.ShowMessage(this, noticeText_->text(), QStringLiteral("打开码表"),
                          UiServices::Icon::kInformation,
                          QString::fromStdString(store_.linesWithoutTab().Describe()));
  });
  connect(close, &QPushButton::clicked, this, &MainWindow::HideNotice);
  noticeBar_->hide();
}

void MainWindow::ShowNotice(const QString& text) {
  noticeText_->setText(text);
  noticeBar_->show();
  LayoutChildren();
}

void MainWindow::HideNotice() {
  noticeBar_->hide();
  LayoutChildren();
}

void MainWindow::BuildStatusBar() {
  auto label = [this](const char* name) {
    auto* l = new QLabel(this);
    l->setObjectName(QString::fromLatin1(name));
    return l;
  };
  resultLabel_ = label("resultLabel");
  fileLabel_ = label("fileLabel");
  encodingLabel_ = label("encodingLabel");
  rowsLabel_ = label("rowsLabel");
  leftOutLabel_ = label("leftOutLabel");
  changedLabel_ = label("changedLabel");
  statusBar()->addWidget(resultLabel_, 1);
  for (QLabel* l : {fileLabel_, encodingLabel_, rowsLabel_, leftOutLabel_, changedLabel_}) {
    statusBar()->addPermanentWidget(l);
  }
}

void MainWindow::BuildMenus() {
  for (EditorMenu menu :
       {EditorMenu::kFile, EditorMenu::kEdit, EditorMenu::kTools, EditorMenu::kHelp}) {
    menuBar()->addMenu(BuildPopup(menu, this, false));
  }
  RebuildRecentMenu();
}

QMenu* MainWindow::BuildPopup(EditorMenu which, QWidget* parent, bool forContext) {
  auto* menu = new QMenu(ToQString(kMenuTitles[static_cast<size_t>(which)]), parent);
  QMenu* submenu = nullptr;
  std::u16string_view submenuTitle;
  for (const EditorCommand& c : EditorCommands()) {
    if (c.menu != which) continue;
    if (c.submenu != submenuTitle) {
      submenuTitle = c.submenu;
      submenu = nullptr;
      if (!submenuTitle.empty()) {
        menu->addSeparator();
        submenu = menu->addMenu(ToQString(submenuTitle));
      }
    }
    QMenu* into = submenu != nullptr ? submenu : menu;
    // The recent files' submenu is a group of its own before 退出.
    if (c.number == kExit && !forContext) {
      menu->addSeparator();
      recentMenu_ = menu->addMenu(QStringLiteral("最近打开的文件(&R)"));
      recentMenu_->setObjectName(QStringLiteral("recentMenu"));
    }
    if (c.group) into->addSeparator();
    QString text = ToQString(c.text);
    QStringList shown;
    for (QKeyCombination key : ParseKeys(c.keys)) shown << KeyText(key);
    if (!shown.isEmpty()) text += u'\t' + shown.join(QStringLiteral(", "));
    QAction* action = into->addAction(text);
    const int number = c.number;
    connect(action, &QAction::triggered, this, [this, number] { Dispatch(number); });
    if (!forContext) actions_[number] = action;
  }
  return menu;
}

QAction* MainWindow::action(int command) const {
  auto found = actions_.find(command);
  return found == actions_.end() ? nullptr : found->second;
}

void MainWindow::SetTableItemsEnabled(bool enabled) {
  for (const EditorCommand& c : EditorCommands()) {
    if (!c.tableItem) continue;
    if (QAction* a = action(c.number)) a->setEnabled(enabled);
  }
}

void MainWindow::SetCommandHandler(int command, std::function<void()> handler) {
  handlers_[command] = std::move(handler);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr || widget->window() != this) return false;
  if (QApplication::activeModalWidget() != nullptr ||
      QApplication::activePopupWidget() != nullptr) {
    return false;
  }
  auto* key = static_cast<QKeyEvent*>(event);
  if (watched == findBox_) {
    const int role = HandleFindKey(key);
    if (role >= 0) return role > 0;
  }
  const QKeyCombination pressed = Normalized(key->keyCombination());
  for (const auto& [combination, number] : keys_) {
    if (combination != pressed) continue;
    // A greyed item blocks its key too.
    QAction* item = action(number);
    if (item == nullptr || item->isEnabled()) Dispatch(number);
    return true;
  }
  if ((watched == list_ || watched == list_->viewport()) && HandleListKey(key)) return true;
  return false;
}

// Typing in the find bar edits the text looked for (0: the box takes the
// key); Enter goes to the next row holding it and Escape closes the bar (1:
// done). The command keys that carry Ctrl or Alt and are not text editing
// keys still act (-1).
int MainWindow::HandleFindKey(QKeyEvent* key) {
  const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
  if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
    FindStep(!(modifiers & Qt::ShiftModifier), false);
    return 1;
  }
  if (key->key() == Qt::Key_Escape) {
    findBar_->hide();
    LayoutChildren();
    list_->setFocus();
    return 1;
  }
  const bool commandKey = (modifiers & (Qt::ControlModifier | Qt::AltModifier)) ||
                          (key->key() >= Qt::Key_F1 && key->key() <= Qt::Key_F35);
  const bool editingKey = key->matches(QKeySequence::Copy) || key->matches(QKeySequence::Cut) ||
                          key->matches(QKeySequence::Paste) || key->matches(QKeySequence::Undo) ||
                          key->matches(QKeySequence::Redo) || key->matches(QKeySequence::SelectAll);
  return commandKey && !editingKey ? -1 : 0;
}

// Home and End go to the first and last row (with Shift, extending the
// selection); the table view's own Home and End only change the column.
bool MainWindow::HandleListKey(QKeyEvent* key) {
  const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
  if ((key->key() != Qt::Key_Home && key->key() != Qt::Key_End) ||
      (modifiers != Qt::NoModifier && modifiers != Qt::ShiftModifier)) {
    return false;
  }
  const int count = model_.itemCount();
  if (count == 0) return true;
  const int target = key->key() == Qt::Key_Home ? 0 : count - 1;
  const QModelIndex index = model_.index(target, 0);
  QItemSelectionModel* selection = list_->selectionModel();
  if (modifiers == Qt::ShiftModifier && list_->currentIndex().isValid()) {
    const int from = list_->currentIndex().row();
    selection->select(QItemSelection(model_.index(std::min(from, target), 0),
                                     model_.index(std::max(from, target), 0)),
                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
  } else {
    selection->setCurrentIndex(index,
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  list_->scrollTo(index);
  return true;
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  LayoutChildren();
}

void MainWindow::LayoutChildren() {
  const int width = central_->width();
  const int height = central_->height();
  filterLabel_->setGeometry(0, 5, 80, 22);
  filterBox_->setGeometry(80, 2, 180, 22);
  exactBox_->setGeometry(270, 2, 180, 22);
  int top = 26;
  if (!noticeBar_->isHidden()) {
    noticeBar_->setGeometry(0, top, width, 28);
    top += 28;
  }
  if (!findBar_->isHidden()) {
    findBar_->setGeometry(0, top, width, 28);
    top += 28;
  }
  list_->setGeometry(0, top, width, std::max(0, height - top));
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!exitConfirmed_ && !ConfirmDiscard(kSaveOnClose)) {
    event->ignore();
    return;
  }
  exitConfirmed_ = false;
  StoreSettings();
  event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (!urls.isEmpty() && urls.front().isLocalFile()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.front().isLocalFile()) return;
  event->acceptProposedAction();
  const QString path = urls.front().toLocalFile();
  // The drop finishes before any prompt shows, so the source is not left
  // waiting on a modal question.
  QMetaObject::invokeMethod(
      this, [this, path] { OpenWithPrompt(ToPath(path)); }, Qt::QueuedConnection);
}

void MainWindow::Refresh() {
  if (!store_.IsOpen() || store_.RowCount() == 0) {
    UpdateState();
    return;
  }
  const std::u16string filter = ToU16(filterBox_->text().left(kFilterLimit));
  // Nothing paints while the store filters, so one reset of the list (which
  // drops its selection and scroll position) serves for before and after.
  // A failed filter leaves the store's previous snapshot: those rows stay
  // listed, and the status bar says why the list did not change.
  Result<uint32_t> filtered = store_.ApplyFilter(filter, exactBox_->isChecked());
  model_.SetItemCount(static_cast<int>(store_.VisibleRowCount()));
  filterFailure_ =
      filtered.IsOk()
          ? QString()
          : QStringLiteral("筛选失败：%1").arg(QString::fromStdString(filtered.status().message()));
  if (!filterFailure_.isEmpty()) ShowResult({});
  findCountStale_ = true;
  UpdateState();
}

void MainWindow::WriteTitle() {
  const std::u16string filter = ToU16(filterBox_->text().left(kFilterLimit));
  std::u16string title =
      FormatText(u"Mirel码表编辑器 V3.0 - 当前总行数：%d，筛选编码：%s，筛选后个数：%d",
                 {static_cast<long long>(store_.RowCount()),
                  std::u16string_view(filter.empty() ? u"无" : filter),
                  static_cast<long long>(store_.VisibleRowCount())});
  // The name after the counts, which keep their place; [*] is Qt's marker
  // of unsaved changes.
  const QString name = QDir::isAbsolutePath(origin_) ? QFileInfo(origin_).fileName() : origin_;
  setWindowTitle(ToQString(std::u16string_view(title).substr(0, kTitleLimit)) +
                 (name.isEmpty() ? QString() : QStringLiteral(" - ") + name) +
                 QStringLiteral("[*]"));
}

// The status bar, the undo items and the find count follow the table.
void MainWindow::UpdateState() {
  const bool open = store_.IsOpen();
  if (open) {
    WriteTitle();
    if (QDir::isAbsolutePath(origin_)) {
      const QFileInfo file(origin_);
      fileLabel_->setText(file.fileName() + QStringLiteral(" — ") +
                          QDir::toNativeSeparators(file.absolutePath()));
    } else {
      fileLabel_->setText(origin_);
    }
    encodingLabel_->setText(formatName_.isEmpty() ? EncodingName(store_) : formatName_);
    rowsLabel_->setText(QStringLiteral("行数：%1").arg(Grouped(store_.RowCount())));
    leftOutLabel_->setText(
        editor_.linesLeftOut() > 0
            ? QStringLiteral("未列出的行（无TAB）：%1").arg(Grouped(editor_.linesLeftOut()))
            : QString());
    changedLabel_->setText(Changed() ? QStringLiteral("已修改") : QString());
  } else {
    setWindowTitle(ToQString(kWindowTitle));
    for (QLabel* l : {fileLabel_, encodingLabel_, rowsLabel_, leftOutLabel_, changedLabel_}) {
      l->clear();
    }
  }
  for (QLabel* l : {fileLabel_, encodingLabel_, rowsLabel_, leftOutLabel_, changedLabel_}) {
    l->setVisible(!l->text().isEmpty());
  }
  setWindowModified(Changed());
  if (QAction* header = action(kLinuxHeader)) header->setEnabled(open && linuxSession_.active());
  if (QAction* undo = action(kUndo)) undo->setEnabled(open && editor_.CanUndo());
  if (QAction* redo = action(kRedo)) redo->setEnabled(open && editor_.CanRedo());
  if (!findBar_->isHidden() && findCountStale_) UpdateFindCount();
}

// A failed filter stays in view beside what the command did.
void MainWindow::ShowResult(const QString& text) {
  if (filterFailure_.isEmpty() || !store_.IsOpen()) {
    resultLabel_->setText(text);
  } else {
    resultLabel_->setText(text.isEmpty() ? filterFailure_ : text + u'；' + filterFailure_);
  }
}

bool MainWindow::Dispatch(int command) {
  if (command < kFirst || command > kLast) return false;
  const EditorCommand* c = FindEditorCommand(command);
  if (c != nullptr && c->rows && !RowsVisible()) return false;
  if (auto handler = handlers_.find(command); handler != handlers_.end()) {
    handler->second();
    return true;
  }
  if (c == nullptr) return false;
  c->run(static_cast<EditorActions&>(*this));
  return true;
}

std::vector<uint32_t> MainWindow::SelectedRows() const {
  std::vector<uint32_t> rows;
  // Rows listed from before a change whose filter failed are not the
  // table's rows any more: no command acts on them.
  if (store_.filterStale()) return rows;
  for (const QItemSelectionRange& range : list_->selectionModel()->selection()) {
    for (int r = range.top(); r <= range.bottom(); ++r) rows.push_back(static_cast<uint32_t>(r));
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

RowSelection MainWindow::Selection() const {
  RowSelection selection;
  selection.rows = SelectedRows();
  if (list_->currentIndex().isValid()) {
    selection.current = static_cast<uint32_t>(list_->currentIndex().row());
  }
  return selection;
}

// Selects the rows in runs, so that a large selection costs one range a run.
void MainWindow::ApplySelection(const RowSelection& selection) {
  QItemSelection ranges;
  const int last = model_.columnCount() - 1;
  for (size_t k = 0; k < selection.rows.size();) {
    size_t end = k;
    while (end + 1 < selection.rows.size() && selection.rows[end + 1] == selection.rows[end] + 1) {
      ++end;
    }
    ranges.select(model_.index(static_cast<int>(selection.rows[k]), 0),
                  model_.index(static_cast<int>(selection.rows[end]), last));
    k = end + 1;
  }
  QItemSelectionModel* model = list_->selectionModel();
  if (selection.current) {
    model->setCurrentIndex(model_.index(static_cast<int>(*selection.current), 0),
                           QItemSelectionModel::NoUpdate);
  }
  model->select(ranges, QItemSelectionModel::ClearAndSelect);
}

void MainWindow::KeepPlace(int scroll, const RowSelection& selection) {
  // The reset lays the list out later; the scroll range must be there now.
  list_->doItemsLayout();
  list_->verticalScrollBar()->setValue(scroll);
  ApplySelection(selection);
  if (selection.current) list_->scrollTo(model_.index(static_cast<int>(*selection.current), 0));
}

void MainWindow::SelectOnly(int row) {
  const QModelIndex index = model_.index(row, 0);
  list_->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  list_->scrollTo(index);
}

bool MainWindow::OpenTable(const std::filesystem::path& path) { return OpenFile(path, true); }

bool MainWindow::OpenFile(const std::filesystem::path& path, bool remember) {
  Result<Reader> reader = ChooseReader(store_.fs(), path);
  if (!reader.IsOk()) {
    services_.ShowMessage(this, QStringLiteral("无法打开码表文件。"), QStringLiteral("打开失败"),
                          UiServices::Icon::kError,
                          QString::fromStdString(reader.status().message()));
    return false;
  }
  switch (reader->kind) {
    case Reader::Kind::kLinux:
      return OpenPrepared(linuxSession_.PrepareFile(this, path, reader->linux), remember);
    case Reader::Kind::kCommon:
      return OpenConverted(path, reader->common, remember);
    case Reader::Kind::kStore:
      break;
  }
  if (!LoadRows(path)) return false;
  origin_ = FromPath(std::filesystem::absolute(path));
  ShowOpened(remember);
  return true;
}

bool MainWindow::LoadRows(const std::filesystem::path& path) {
  Result<uint32_t> loaded = editor_.Open(path, true);
  if (!loaded.IsOk()) {
    services_.ShowMessage(this, QStringLiteral("无法打开码表文件。"), QStringLiteral("打开失败"),
                          UiServices::Icon::kError,
                          QString::fromStdString(loaded.status().message()));
    if (!store_.IsOpen()) ResetAfterClose();
    return false;
  }
  linuxSession_.End();
  formatName_.clear();
  converted_ = false;
  return true;
}

bool MainWindow::OpenPrepared(std::optional<std::filesystem::path> text, bool remember) {
  if (!text) return false;
  if (!LoadRows(*text)) {
    linuxSession_.Abandon();
    return false;
  }
  linuxSession_.Begin();
  origin_ = linuxSession_.origin();
  formatName_ = linuxSession_.formatName();
  ShowOpened(remember);
  return true;
}

bool MainWindow::OpenConverted(const std::filesystem::path& path, TableFormat format,
                               bool remember) {
  const std::filesystem::path rows = WorkingText(store_, u"kv_converted_table");
  Result<TextBuffer> text = ReadTextFile(store_.fs(), path);
  Result<uint64_t> converted =
      text.IsOk() ? ConvertCommonFormat(store_.fs(), text->text, format, TableFormat::kMirel, rows,
                                        store_.temp(), path)
                  : Result<uint64_t>(text.status());
  (void)store_.fs().Remove(store_.temp().TempPath(kIntermediateFileName));
  if (!converted.IsOk()) {
    (void)store_.fs().Remove(rows);
    services_.ShowMessage(this, QStringLiteral("无法打开码表文件。"), QStringLiteral("打开失败"),
                          UiServices::Icon::kError,
                          QString::fromStdString(converted.status().message()));
    return false;
  }
  if (!LoadRows(rows)) {
    (void)store_.fs().Remove(rows);
    return false;
  }
  origin_ = FromPath(std::filesystem::absolute(path));
  formatName_ = ToQString(InfoOf(format).radioText);
  converted_ = true;
  ShowOpened(remember);
  return true;
}

void MainWindow::ShowOpened(bool remember) {
  {
    const QSignalBlocker quiet(filterBox_);
    filterBox_->clear();
  }
  if (store_.VisibleRowCount() > 0) {
    SetTableItemsEnabled(true);
    Refresh();
  } else {
    SetTableItemsEnabled(false);
    model_.SetItemCount(0);
    UpdateState();
  }
  if (remember) AddRecent(origin_);
  ShowResult(QStringLiteral("已打开：%1 行").arg(Grouped(store_.RowCount())));
  // The lines left out are told, so that a save that drops them does not
  // come as a surprise.
  if (const uint64_t skipped = editor_.linesLeftOut(); skipped > 0) {
    ShowNotice(QStringLiteral("码表中没有Tab的行未被读入：%1 行。").arg(Grouped(skipped)));
  } else {
    HideNotice();
  }
}

bool MainWindow::OpenWithPrompt(const std::filesystem::path& path) {
  if (!ConfirmDiscard(kSaveOnClose)) return false;
  return OpenTable(path);
}

bool MainWindow::Changed() const {
  return store_.IsOpen() && (store_.dirty() || linuxSession_.headerChanged());
}

bool MainWindow::ConfirmDiscard(const QString& question) {
  if (!Changed()) return true;
  switch (services_.AskYesNoCancel(this, question, kSaveQuestionCaption)) {
    case UiServices::Answer::kYes:
      return Save();
    case UiServices::Answer::kNo:
      return true;
    case UiServices::Answer::kCancel:
      return false;
  }
  return false;
}

void MainWindow::OpenCommand() {
  if (!ConfirmDiscard(kSaveOnClose)) return;
  const QString picked = services_.PickTableToOpen(this, kTablePickerTitle);
  if (picked.isEmpty() || !QFileInfo::exists(picked)) return;
  OpenTable(ToPath(picked));
}

void MainWindow::ResetAfterClose() {
  editor_.Close();
  linuxSession_.End();
  origin_.clear();
  formatName_.clear();
  converted_ = false;
  HideNotice();
  SetTableItemsEnabled(false);
  model_.SetItemCount(0);
  {
    const QSignalBlocker quiet(filterBox_);
    filterBox_->clear();
  }
  UpdateState();
}

void MainWindow::CloseCommand() {
  if (!ConfirmDiscard(kSaveOnClose)) return;
  ResetAfterClose();
  ShowResult(QStringLiteral("已关闭码表"));
}

void MainWindow::ExitCommand() {
  if (!ConfirmDiscard(kSaveOnExit)) return;
  exitConfirmed_ = true;
  if (!close()) exitConfirmed_ = false;
}

void MainWindow::ShowSaveFailure(const Status& status) {
  services_.ShowMessage(this, kSaveFailure, kSaveFailureCaption, UiServices::Icon::kError,
                        QString::fromStdString(status.message()));
}

namespace {

// A text table is written as UTF-16LE with CR LF, rows only: what that
// changes in the file it was read from is asked once, before writing.
bool ConfirmTextSave(UiServices& services, QWidget* parent, const TableStore& store) {
  const SaveCheck check = CheckTextSave(store);
  if (check.empty()) return true;
  QString text =
      QStringLiteral("保存将改写“%1”：\n").arg(QFileInfo(FromPath(store.currentPath())).fileName());
  if (check.encodingFrom) {
    text += QStringLiteral("· 文件由%1改为UTF-16LE（带BOM，CR LF换行，输入法读取的格式）；\n")
                .arg(QString::fromUtf8(EncodingLabel(*check.encodingFrom)));
  }
  if (check.linesDropped > 0) {
    text += QStringLiteral(
                "· %1行没有Tab（注释、说明等），未被读入，保存后不再在文件中；"
                "下面列出前%2行。\n")
                .arg(Grouped(check.linesDropped))
                .arg(check.findings.size());
  }
  text += QStringLiteral("如需保留原文件，请取消并使用“另存为…”。");
  return services.ConfirmChanges(parent, kSaveQuestionCaption, text, SaveCheckItems(check),
                                 QStringLiteral("保存"), QStringLiteral("取消"));
}

}  // namespace

bool MainWindow::Save() {
  // Written back in its own line format a table could come out regrouped or
  // renumbered; its rows go to a Mirel text the user names instead.
  if (converted_) return SaveAs();
  if (linuxSession_.active()) {
    const bool saved = linuxSession_.Save(this);
    UpdateState();
    if (saved) ShowResult(QStringLiteral("已保存"));
    return saved;
  }
  if (!ConfirmTextSave(services_, this, store_)) return false;
  bool cancelled = false;
  Status saved = editor_.Save(SaveMode::kSave, {}, [&](const Status&) {
    const bool retry = services_.AskRetry(
        this,
        QStringLiteral("无法替换主码表文件。请关闭正在使用当前输入法的程序，然后单击“重试”。"),
        QStringLiteral("是否重试？"));
    cancelled = !retry;
    return retry;
  });
  UpdateState();
  if (saved.IsOk()) {
    ShowResult(QStringLiteral("已保存"));
    return true;
  }
  if (!cancelled) ShowSaveFailure(saved);
  return false;
}

QString MainWindow::PickExportPath(const QString& title, const QString& suggested) {
  QString picked = services_.PickSaveFile(this, title, suggested);
  if (picked.isEmpty()) return picked;
  if (picked.size() < 4 || picked[picked.size() - 4] != u'.') picked += QStringLiteral(".txt");
  return picked;
}

QString MainWindow::SuggestedTextName() const {
  if (QDir::isAbsolutePath(origin_)) {
    const QFileInfo file(origin_);
    QString name = file.completeBaseName();
    // Linux tables carry two suffixes: "wubi86.dict.yaml", "cj.main.dict".
    if (linuxSession_.active()) {
      for (const QString& inner : {QStringLiteral(".dict"), QStringLiteral(".main")}) {
        if (name.endsWith(inner)) name.chop(inner.size());
      }
    }
    return file.dir().filePath(name + QStringLiteral(".txt"));
  }
  // An installed Linux table goes by its name ("rime:wubi86").
  const QString name = origin_.mid(origin_.lastIndexOf(u':') + 1);
  return name.isEmpty() ? QString() : name + QStringLiteral(".txt");
}

bool MainWindow::SaveAs() {
  const QString picked = PickExportPath(QStringLiteral("另存为"), SuggestedTextName());
  if (picked.isEmpty()) return false;
  Status saved = editor_.Save(SaveMode::kSaveAs, ToPath(picked));
  UpdateState();
  if (!saved.IsOk()) {
    ShowSaveFailure(saved);
    return false;
  }
  ShowResult(QStringLiteral("已另存为：%1").arg(picked));
  return true;
}

void MainWindow::DeleteCommand() {
  const std::vector<uint32_t> rows = SelectedRows();
  if (rows.empty()) return;
  if (!services_.AskYesNo(this, QStringLiteral("是否删除所有选中行？"),
                          QStringLiteral("确认删除？"))) {
    return;
  }
  const int scroll = list_->verticalScrollBar()->value();
  model_.SetItemCount(0);
  const uint32_t deleted = editor_.Delete(rows);
  Refresh();
  // The row that took the first deleted row's place carries on.
  if (const int count = model_.itemCount(); count > 0) {
    const auto row = static_cast<uint32_t>(std::min(static_cast<int>(rows.front()), count - 1));
    KeepPlace(scroll, RowSelection{{row}, row});
  }
  ShowResult(QStringLiteral("删除：%1 行").arg(Grouped(deleted)));
}

void MainWindow::CopyCommand() {
  const std::vector<uint32_t> rows = SelectedRows();
  if (rows.empty()) return;
  services_.SetClipboardText(ToQString(editor_.CopyText(rows)));
  ShowResult(QStringLiteral("复制：%1 行").arg(Grouped(rows.size())));
}

void MainWindow::Move(RowSelection (TableEditor::*step)(const RowSelection&),
                      std::u16string_view name) {
  const RowSelection before = Selection();
  if (before.rows.empty()) return;
  const RowSelection after = (editor_.*step)(before);
  // The moves keep the store's snapshot in step: only the cells change.
  model_.RowsChanged(0, model_.itemCount() - 1);
  ApplySelection(after);
  if (after.current) list_->scrollTo(model_.index(static_cast<int>(*after.current), 0));
  list_->setFocus();
  UpdateState();
  ShowResult(QStringLiteral("%1：%2 行").arg(ToQString(name), Grouped(before.rows.size())));
}

void MainWindow::ModifyCommand() {
  const std::vector<uint32_t> rows = SelectedRows();
  if (rows.empty()) return;
  const uint32_t p = rows.front();
  const uint32_t dataRow = store_.DataRowOf(p);
  std::u16string code, entry;
  store_.RowText(p, RowTextKind::kCode, code);
  store_.RowText(p, RowTextKind::kEntry, entry);
  model_.SetItemCount(0);
  ModifyDialog dialog(this, services_, ToQString(code).left(ModifyDialog::kFieldLimit),
                      ToQString(entry).left(ModifyDialog::kFieldLimit),
                      [&](const QString& newCode, const QString& newEntry) {
                        return editor_.Modify(p, ToU16(newCode), ToU16(newEntry));
                      });
  const bool changed = dialog.exec() == QDialog::Accepted;
  Refresh();
  if (changed) ShowResult(QStringLiteral("已修改第 %1 行").arg(Grouped(uint64_t{dataRow} + 1)));
  const int count = model_.itemCount();
  if (static_cast<int>(p) < count) {
    list_->selectionModel()->setCurrentIndex(
        model_.index(static_cast<int>(p), 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    // Show the row with some rows of context below it.
    const int row = static_cast<int>(p);
    const int n = row + 10 < count ? 10 : count - row - 1;
    list_->scrollTo(model_.index(row + std::max(n, 0), 0));
    list_->scrollTo(model_.index(row, 0));
  }
  list_->setFocus();
}

void MainWindow::AddCommand() {
  // The first row goes after the selected row, each further one after the
  // row added before it; a file's rows go at the end.
  const std::vector<uint32_t> selected = SelectedRows();
  uint32_t next = selected.empty() ? store_.RowCount() : store_.DataRowOf(selected.front()) + 1;
  auto inserted = [this, &next](uint32_t at, uint32_t count) {
    const int scroll = list_->verticalScrollBar()->value();
    const RowSelection before = Selection();
    Refresh();
    next = at + count;
    const RowSelection added = editor_.VisibleRows(at, count);
    // Rows the filter hides move no row shown: the list stays as it was.
    KeepPlace(scroll, added.rows.empty() ? before : added);
    ShowResult(QStringLiteral("添加：%1 行").arg(Grouped(count)));
  };
  AddEntryDialog dialog(
      this, services_,
      [&](const QString& code, const QString& entry) {
        const uint32_t at = std::min(next, store_.RowCount());
        Status done = editor_.Insert(at, {ToU16(entry) + u"\t" + ToU16(code)});
        if (done.IsOk()) inserted(at, 1);
        return done;
      },
      [&](const QString& path) -> Result<uint32_t> {
        Result<std::vector<std::u16string>> rows = TableStore::ReadRows(store_.fs(), ToPath(path));
        if (!rows.IsOk()) return rows.status();
        const uint32_t at = store_.RowCount();
        Status done = editor_.Insert(at, rows.value());
        if (!done.IsOk()) return done;
        const auto count = static_cast<uint32_t>(rows->size());
        inserted(at, count);
        return count;
      });
  dialog.exec();
}

void MainWindow::Reorder(Ordering ordering) {
  if (!store_.IsOpen() || !RowsVisible()) return;
  model_.SetItemCount(0);
  editor_.Reorder(ordering);
  Refresh();
  ShowResult(QStringLiteral("重新排序：%1").arg(ToQString(ShownName(ordering))));
}

void MainWindow::FrequencyOrderCommand() {
  const QString picked = services_.PickOpenFile(this, QStringLiteral("选择Mirel词频文件:"));
  if (picked.isEmpty() || !QFileInfo(picked).isFile()) return;
  model_.SetItemCount(0);
  Result<LinesWithoutTab> sorted = editor_.SortByFrequency(ToPath(picked));
  Refresh();
  if (!sorted.IsOk()) {
    services_.ShowMessage(this, QStringLiteral("无法读取词频文件。"), QStringLiteral("排序失败"),
                          UiServices::Icon::kError,
                          QString::fromStdString(sorted.status().message()));
    return;
  }
  if (sorted->empty()) {
    ShowResult(QStringLiteral("重新排序：依据词频表"));
  } else {
    ShowResult(QStringLiteral("重新排序：依据词频表（%1）")
                   .arg(QString::fromStdString(sorted->Describe())));
  }
}

void MainWindow::RemoveDuplicatesCommand() {
  model_.SetItemCount(0);
  const uint32_t removed = editor_.RemoveDuplicates();
  Refresh();
  ShowResult(QStringLiteral("删除重复：移除 %1 行").arg(Grouped(removed)));
}

void MainWindow::UndoCommand(bool redo) {
  if (!store_.IsOpen() || !(redo ? editor_.CanRedo() : editor_.CanUndo())) return;
  const std::optional<ChangeName> change = editor_.NextChange(redo);
  model_.SetItemCount(0);
  Status done = redo ? editor_.Redo() : editor_.Undo();
  Refresh();
  if (!done.IsOk()) {
    services_.ShowMessage(this, redo ? QStringLiteral("无法重做。") : QStringLiteral("无法撤销。"),
                          QStringLiteral("编辑"), UiServices::Icon::kError,
                          QString::fromStdString(done.message()));
    return;
  }
  const QString said = redo ? QStringLiteral("已重做") : QStringLiteral("已撤销");
  ShowResult(change ? said + u'：' + ChangeText(*change) : said);
}

void MainWindow::ExportFrequencyCommand() {
  const QString picked = PickExportPath(QStringLiteral("导出为文本文件"));
  if (picked.isEmpty()) return;
  Status written = store_.ExportInstantFrequency(ToPath(picked));
  if (!written.IsOk()) {
    services_.ShowMessage(this, QStringLiteral("无法写入文件。"), QStringLiteral("导出失败"),
                          UiServices::Icon::kError, QString::fromStdString(written.message()));
    return;
  }
  ShowResult(QStringLiteral("已导出即时词频：%1").arg(picked));
}

void MainWindow::ExtractSingleCommand() {
  const QString picked = PickExportPath(QStringLiteral("导出为文本文件"));
  if (picked.isEmpty()) return;
  Result<uint32_t> written = store_.ExportSingleCharacters(ToPath(picked));
  services_.ShowMessage(
      this,
      ToQString(FormatText(u"导出用户单字码表数：%d个。",
                           {static_cast<long long>(written.IsOk() ? written.value() : 0)})),
      QStringLiteral("导出完毕"), UiServices::Icon::kError,
      written.IsOk() ? QString() : QString::fromStdString(written.status().message()));
}

bool MainWindow::OpenInstalled(const InstalledTable& table) {
  // The working copy is not a file to offer again; the installed copy is
  // opened through its dialog.
  if (!OpenFile(table.localCopy, false)) return false;
  store_.SetCompiledTarget(CompiledTarget{table.mainTable, table.settings});
  origin_ = FromPath(table.mainTable);
  UpdateState();
  return true;
}

std::optional<InstalledCopies> MainWindow::LoadInstalledCopies() {
  Result<InstalledCopies> copies = InstalledCopies::Load(store_.fs(), installedEnvironment_);
  if (copies.IsOk()) return std::move(copies).value();
  services_.ShowMessage(this, QStringLiteral("无法读取输入法的安装信息。"),
                        QStringLiteral("无法执行的操作请求"), UiServices::Icon::kError,
                        QString::fromStdString(copies.status().message()));
  return std::nullopt;
}

void MainWindow::OpenInstalledCommand() {
  if (!ConfirmDiscard(kSaveOnClose)) return;
  std::optional<InstalledCopies> copies = LoadInstalledCopies();
  if (!copies) return;
  std::optional<InstalledTable> chosen =
      InstalledDialog::Run(this, services_, *copies, store_.temp(), InstalledDialog::Mode::kOpen);
  if (chosen) OpenInstalled(*chosen);
}

void MainWindow::OpenLinuxCommand() {
  if (!ConfirmDiscard(kSaveOnClose)) return;
  OpenPrepared(linuxSession_.Choose(this, linuxEnvironment_), true);
}

bool MainWindow::OpenLinuxTable(const LinuxTableInfo& table) {
  return OpenPrepared(linuxSession_.Prepare(this, table), true);
}

void MainWindow::ReverseInstalledCommand() {
  std::optional<InstalledCopies> copies = LoadInstalledCopies();
  if (!copies) return;
  InstalledDialog::Run(this, services_, *copies, store_.temp(), InstalledDialog::Mode::kReverse);
}

// The report measures the open rows as they are; it saves first only when
// the table has changes and the user says so.
void MainWindow::StatisticsCommand() {
  if (!store_.IsOpen()) return;
  if (Changed()) {
    const UiServices::Answer answer = services_.AskYesNoCancel(
        this,
        QStringLiteral("打开文件的内容已经改变，是否保存这些修改？\r\n单击“是”保存这些修改，单击"
                       "“否”不保存，两者都继续执行统计操作。"),
        kSaveQuestionCaption);
    if (answer == UiServices::Answer::kCancel) return;
    if (answer == UiServices::Answer::kYes && !Save()) return;
  }
  const std::filesystem::path report = store_.temp().TempPath(kStatisticsReportName);
  Status written = WriteStatisticsReport(store_, report);
  if (!written.IsOk()) {
    services_.ShowMessage(this, QStringLiteral("无法写入统计文档。"), QStringLiteral("统计信息"),
                          UiServices::Icon::kError, QString::fromStdString(written.message()));
    return;
  }
  ShowResult(QStringLiteral("统计信息：%1").arg(FromPath(report)));
  if (!services_.OpenWithShell(QUrl::fromLocalFile(FromPath(report)))) {
    services_.ShowMessage(this,
                          QStringLiteral("统计文档已写入，但没有程序能打开它：\n%1")
                              .arg(QDir::toNativeSeparators(FromPath(report))),
                          QStringLiteral("统计信息"), UiServices::Icon::kInformation);
  }
}

void MainWindow::AnalysisCommand() {
  if (!store_.IsOpen()) return;
  if (!analysisWindow_) {
    analysisWindow_ = new AnalysisWindow(this, store_, services_, [this](const QString& code) {
      // One filter pass, whatever the controls held before.
      {
        const QSignalBlocker exact(exactBox_);
        const QSignalBlocker filter(filterBox_);
        exactBox_->setChecked(true);
        filterBox_->setText(code);
      }
      Refresh();
      raise();
      activateWindow();
    });
  }
  analysisWindow_->SetTableName(QFileInfo(origin_).fileName());
  analysisWindow_->show();
  analysisWindow_->raise();
  analysisWindow_->activateWindow();
  // After the window is drawn: reading a source takes a moment.
  QTimer::singleShot(0, analysisWindow_, [window = analysisWindow_] { window->Analyze(); });
}

void MainWindow::HelpCommand() {
  // Beside a build the help sits next to the program; installed, in the
  // shared data folder of the prefix.
  std::filesystem::path help = programFolder_ / "help" / "index.html";
  const std::filesystem::path installed =
      programFolder_.parent_path() / "share" / "mirel" / "help" / "index.html";
  std::error_code ec;
  if (!std::filesystem::exists(help, ec) && std::filesystem::exists(installed, ec))
    help = installed;
  const QString page = FromPath(help);
  if (!services_.OpenWithShell(QUrl::fromLocalFile(page))) {
    services_.ShowMessage(this,
                          QStringLiteral("无法打开帮助文档。请用浏览器打开：\n%1")
                              .arg(QDir::toNativeSeparators(page)),
                          QStringLiteral("帮助"), UiServices::Icon::kError);
  }
}

void MainWindow::UpdatesCommand() {
  services_.ShowMessage(this,
                        QStringLiteral("当前版本：Mirel码表编辑器 %1。\n本程序的更新随系统安装的"
                                       "软件包一同提供，请用系统的软件包管理器更新。")
                            .arg(QString::fromLatin1(kVersion)),
                        QStringLiteral("查看更新"), UiServices::Icon::kInformation);
}

void MainWindow::FocusCycle() {
  QWidget* focus = QApplication::focusWidget();
  if (focus == filterBox_) {
    exactBox_->setFocus(Qt::TabFocusReason);
  } else if (focus == exactBox_) {
    list_->setFocus(Qt::TabFocusReason);
  } else {
    filterBox_->setFocus(Qt::TabFocusReason);
  }
}

void MainWindow::FindCommand() {
  findBar_->show();
  LayoutChildren();
  findBox_->setFocus(Qt::ShortcutFocusReason);
  findBox_->selectAll();
  UpdateFindCount();
}

// Goes to the next (or previous) visible row whose entry holds the find
// text, from the current row; includeCurrent when the text just changed.
void MainWindow::FindStep(bool forward, bool includeCurrent) {
  if (findBar_->isHidden()) {
    FindCommand();
    if (findBox_->text().isEmpty()) return;
  }
  if (findCountStale_) UpdateFindCount();
  const std::u16string text = ToU16(findBox_->text());
  const uint32_t count = store_.VisibleRowCount();
  if (text.empty() || count == 0) return;
  const QModelIndex current = list_->currentIndex();
  uint32_t from = 0;
  if (current.isValid()) {
    const auto row = static_cast<uint32_t>(current.row());
    if (includeCurrent) {
      from = row;
    } else if (forward) {
      from = row + 1 == count ? 0 : row + 1;
    } else {
      from = row == 0 ? count - 1 : row - 1;
    }
  } else if (!forward) {
    from = count - 1;
  }
  const std::optional<uint32_t> found = editor_.FindEntry(text, from, forward);
  if (found) SelectOnly(static_cast<int>(*found));
}

void MainWindow::UpdateFindCount() {
  const std::u16string text = ToU16(findBox_->text());
  findCountStale_ = false;
  findMatches_ = text.empty() ? 0 : editor_.CountEntryMatches(text);
  ShowFindCount();
}

void MainWindow::ShowFindCount() {
  const std::u16string text = ToU16(findBox_->text());
  if (text.empty()) {
    findCount_->clear();
    return;
  }
  if (findMatches_ == 0) {
    findCount_->setText(QStringLiteral("无匹配"));
    return;
  }
  const QModelIndex current = list_->currentIndex();
  if (current.isValid() && !store_.filterStale()) {
    const auto row = static_cast<uint32_t>(current.row());
    std::u16string entry;
    // The current row is read alone; only a match costs a count.
    if (store_.RowText(row, RowTextKind::kEntry, entry) &&
        entry.find(text) != std::u16string::npos) {
      findCount_->setText(QStringLiteral("%1/%2").arg(
          Grouped(uint64_t{editor_.CountEntryMatches(text, row)} + 1), Grouped(findMatches_)));
      return;
    }
  }
  findCount_->setText(QStringLiteral("%1 行匹配").arg(Grouped(findMatches_)));
}

void MainWindow::ShowContextMenu(const QPoint& at) {
  // Fresh from the command table, so nothing in it is greyed.
  QMenu* menu = BuildPopup(RowsVisible() ? EditorMenu::kEdit : EditorMenu::kTools, this, true);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(list_->viewport()->mapToGlobal(at));
}

void MainWindow::AddRecent(const QString& path) {
  recent_.removeAll(path);
  recent_.prepend(path);
  while (recent_.size() > kRecentLimit) recent_.removeLast();
  if (settings_ != nullptr) settings_->setValue(QStringLiteral("recentFiles"), recent_);
  RebuildRecentMenu();
}

void MainWindow::RebuildRecentMenu() {
  if (recentMenu_ == nullptr) return;
  recentMenu_->clear();
  for (int k = 0; k < recent_.size(); ++k) {
    const QString path = recent_[k];
    QAction* item = recentMenu_->addAction(QStringLiteral("&%1 %2").arg(k + 1).arg(path));
    connect(item, &QAction::triggered, this, [this, path] { OpenRecent(path); });
  }
  recentMenu_->setEnabled(!recent_.isEmpty());
}

// A path opens through the reader its content asks for; a name such as
// "rime:wubi86" is looked up again among the installed tables.
void MainWindow::OpenRecent(const QString& entry) {
  if (QDir::isAbsolutePath(entry)) {
    if (!QFileInfo::exists(entry)) {
      services_.ShowMessage(this, QStringLiteral("文件已不存在：\n%1").arg(entry),
                            QStringLiteral("打开失败"), UiServices::Icon::kError);
      ForgetRecent(entry);
      return;
    }
    OpenWithPrompt(ToPath(entry));
    return;
  }
  Result<LinuxTableInfo> table =
      FindLinuxTable(store_.fs(), linuxEnvironment_, entry.toStdString());
  if (!table.IsOk()) {
    services_.ShowMessage(this, QStringLiteral("码表已不存在：\n%1").arg(entry),
                          QStringLiteral("打开失败"), UiServices::Icon::kError,
                          QString::fromStdString(table.status().message()));
    ForgetRecent(entry);
    return;
  }
  if (!ConfirmDiscard(kSaveOnClose)) return;
  OpenLinuxTable(table.value());
}

void MainWindow::ForgetRecent(const QString& entry) {
  recent_.removeAll(entry);
  if (settings_ != nullptr) settings_->setValue(QStringLiteral("recentFiles"), recent_);
  RebuildRecentMenu();
}

void MainWindow::RestoreSettings() {
  if (settings_ == nullptr) return;
  recent_ = settings_->value(QStringLiteral("recentFiles")).toStringList();
  // Older versions remembered working files of the private folder.
  std::filesystem::path scratch = store_.temp().folder();
  if (scratch.parent_path().filename().string().starts_with("mirel-")) {
    scratch = scratch.parent_path();
  }
  const QString scratchPrefix = FromPath(scratch) + u'/';
  recent_.removeIf([&](const QString& entry) { return entry.startsWith(scratchPrefix); });
  while (recent_.size() > kRecentLimit) recent_.removeLast();
  RebuildRecentMenu();
  const QByteArray geometry = settings_->value(QStringLiteral("geometry")).toByteArray();
  if (!geometry.isEmpty()) restoreGeometry(geometry);
  const QList<QVariant> widths = settings_->value(QStringLiteral("columnWidths")).toList();
  for (int c = 0; c < widths.size() && c < model_.columnCount(); ++c) {
    const int width = widths[c].toInt();
    if (c != 1 && width > 0) list_->setColumnWidth(c, width);
  }
}

void MainWindow::StoreSettings() {
  if (settings_ == nullptr) return;
  settings_->setValue(QStringLiteral("geometry"), saveGeometry());
  QList<QVariant> widths;
  for (int c = 0; c < model_.columnCount(); ++c) widths << list_->columnWidth(c);
  settings_->setValue(QStringLiteral("columnWidths"), widths);
  settings_->setValue(QStringLiteral("recentFiles"), recent_);
  settings_->sync();
}

}  // namespace mirel
