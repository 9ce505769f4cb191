#include "app/ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTableView>
#include <algorithm>
#include <array>

#include "analysis/statistics.h"
#include "app/ui/commands.h"
#include "app/ui/entry_dialogs.h"
#include "convert/ui/common_conversion_dialog.h"
#include "convert/ui/rule_conversion_dialog.h"
#include "generate/ui/command_tips_dialog.h"
#include "generate/ui/generation_dialogs.h"
#include "generate/ui/merge_dialog.h"
#include "ime/ui/installed_dialog.h"
#include "platform/paths.h"
#include "platform/utf16.h"

namespace mirel {
namespace {

using namespace command;

constexpr int kSeparator = 0;
constexpr int kSubmenu = -1;

struct MenuItem {
  int command;
  const char16_t* text;
};

// Menu bar: 文件, 编辑 (with the 重新排序 submenu after kSubmenu), 工具, 帮助.
const std::vector<MenuItem> kFileMenu = {{kOpen, u"打开文本文件(&O)...\tCtrl+O"},
                                         {kOpenInstalled, u"打开Mirel输入法(&P)...\tCtrl+Alt+O"},
                                         {kOpenLinux, u"打开Linux输入法码表(&L)..."},
                                         {kLinuxHeader, u"表头(&H)..."},
                                         {kSave, u"保存(&S)...\tCtrl+S"},
                                         {kSaveAs, u"另存为(&A)...\tCtrl+Alt+S"},
                                         {kClose, u"关闭(&C)\tCtrl+W"},
                                         {kSeparator, nullptr},
                                         {kExit, u"退出(&X)\tAlt+X"}};
const std::vector<MenuItem> kEditMenu = {{kAdd, u"添加(&A)...\tInsert"},
                                         {kModify, u"修改(&M)...\tEnter"},
                                         {kDelete, u"删除(&D)\tDelete"},
                                         {kCopy, u"复制(C)\tCtrl+C"},
                                         {kSeparator, nullptr},
                                         {kMoveUp, u"上移一位(&U)\tCtrl+↑"},
                                         {kMoveDown, u"下移一位(&D)\tCtrl+↓"},
                                         {kMoveToTop, u"上移至首位(&H)\tCtrl+Home"},
                                         {kMoveToEnd, u"下移至末尾(&E)\tCtrl+End"},
                                         {kSeparator, nullptr},
                                         {kSubmenu, u"重新排序"},
                                         {kSeparator, nullptr},
                                         {kExportFrequency, u"导出即时词频(&X)\tCtrl+Shift+E"},
                                         {kExtractSingle, u"提取单字编码(&I)\tCtrl+Shift+I"},
                                         {kRemoveDuplicates, u"删除重复(&R)\tCtrl+Shift+R"},
                                         {kStatistics, u"统计信息(&S)\tCtrl+Shift+Alt+S"}};
const std::vector<MenuItem> kReorderMenu = {{kSourceOrder, u"原始序(&O)"},
                                            {kFrequencyOrder, u"依据词频表(&F)\t..."},
                                            {kSeparator, nullptr},
                                            {kCodeOrder1, u"编码序1(&C)\t a-ab-b"},
                                            {kCodeOrder2, u"编码序2(&C)\ta-b-ab"},
                                            {kEntryOrder1, u"词条序1(&P)\t"},
                                            {kEntryOrder2, u"词条序2(&P)\t短词靠前"}};
const std::vector<MenuItem> kToolsMenu = {
    {kCommonConversion, u"常见码表格式转换(&X...)\tCtrl+Shift+X"},
    {kSeparator, nullptr},
    {kRuleConversion, u"高级码表格式转换(&F)...\tCtrl+Shift+F"},
    {kSeparator, nullptr},
    {kSingleCharacters, u"单字码表生成(&T)...\tCtrl+Shift+T"},
    {kSeparator, nullptr},
    {kMerge, u"合并码表(&M)...\tCtrl+Shift+M"},
    {kSeparator, nullptr},
    {kWordLibrary, u"词库生成(&C)...\tCtrl+Shift+C"},
    {kSeparator, nullptr},
    {kCommandTips, u"Mirel提示码表生成(&P)...\tCtrl+Shift+P"},
    {kSeparator, nullptr},
    {kReverseInstalled, u"安装后码表反转(&D)...\tCtrl+Shift+D"}};
const std::vector<MenuItem> kHelpMenu = {{kHelpIndex, u"索引(&I)\tF1"},
                                         {kCheckUpdates, u"查看更新(&U)\t"},
                                         {kSeparator, nullptr},
                                         {kAbout, u"关于软件(&A)\t"}};
const std::array<const char16_t*, 4> kMenuTitles = {u"文件(&F)", u"编辑(&E)", u"工具(&T)",
                                                    u"帮助(&H)"};

// Items greyed while no table is open.
const std::vector<int> kTableItems = {
    kClose,           kSaveAs,      kSave,        kAdd,        kModify,
    kDelete,          kCopy,        kMoveDown,    kMoveToEnd,  kExportFrequency,
    kExtractSingle,   kEntryOrder1, kEntryOrder2, kCodeOrder1, kCodeOrder2,
    kFrequencyOrder,  kMoveToTop,   kMoveUp,      kStatistics, kSourceOrder,
    kRemoveDuplicates};

struct Accelerator {
  int key;
  Qt::KeyboardModifiers modifiers;
  int command;
};
constexpr Qt::KeyboardModifiers kNone = Qt::NoModifier;
constexpr Qt::KeyboardModifiers kCtrl = Qt::ControlModifier;
const Qt::KeyboardModifiers kCtrlShift = Qt::ControlModifier | Qt::ShiftModifier;
const Qt::KeyboardModifiers kCtrlAlt = Qt::ControlModifier | Qt::AltModifier;
const std::vector<Accelerator> kAccelerators = {
    {Qt::Key_C, kCtrl, kCopy},  // the menu's Ctrl+C copies the rows
    {Qt::Key_Insert, kNone, kAdd},
    {Qt::Key_Return, kNone, kModify},
    {Qt::Key_Enter, kNone, kModify},
    {Qt::Key_Delete, kNone, kDelete},
    {Qt::Key_X, Qt::AltModifier, kExit},
    {Qt::Key_W, kCtrl, kClose},
    {Qt::Key_O, kCtrlAlt, kOpenInstalled},
    {Qt::Key_O, kCtrl, kOpen},
    {Qt::Key_S, kCtrlAlt, kSaveAs},
    {Qt::Key_S, kCtrl, kSave},
    {Qt::Key_Tab, kNone, kFocusCycle},
    {Qt::Key_F1, kNone, kHelpIndex},
    {Qt::Key_Down, kCtrl, kMoveDown},
    {Qt::Key_End, kCtrl, kMoveToEnd},
    {Qt::Key_E, kCtrl, kExportFrequency},
    {Qt::Key_I, kCtrl, kExtractSingle},
    {Qt::Key_Home, kCtrl, kMoveToTop},
    {Qt::Key_Up, kCtrl, kMoveUp},
    {Qt::Key_S, kCtrlShift | Qt::AltModifier, kStatistics},
    {Qt::Key_D, kCtrlShift, kReverseInstalled},
    {Qt::Key_F, kCtrlShift, kRuleConversion},
    {Qt::Key_X, kCtrlShift, kCommonConversion},
    {Qt::Key_C, kCtrlShift, kWordLibrary},
    {Qt::Key_T, kCtrlShift, kSingleCharacters},
    {Qt::Key_M, kCtrlShift, kMerge},
    {Qt::Key_P, kCtrlShift, kCommandTips}};

const QString kUpdatePage = QStringLiteral("https://mirel.example.org/");
const QString kSaveFailure = QStringLiteral("保存文件失败，请确认对当前目录的文件写入权限。");
const QString kSaveFailureCaption = QStringLiteral("无法保存");
const QString kSaveQuestionCaption = QStringLiteral("是否保存当前文件？");
const QString kTablePickerTitle = QStringLiteral("选择码表文件:");

QString ToQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string ToU16(const QString& text) { return text.toStdU16String(); }

QFont ControlFont() {
  QFont font;
  font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                    QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei")});
  font.setPixelSize(12);
  font.setWeight(QFont::Normal);
  return font;
}

}  // namespace

MainWindow::MainWindow(TableStore& store, UiServices& services, std::filesystem::path programFolder,
                       QWidget* parent)
    : QMainWindow(parent),
      store_(store),
      services_(services),
      programFolder_(std::move(programFolder)),
      model_(store) {
  setObjectName(QStringLiteral("mainWindow"));
  // The tool's default source is a bare name: it lives in the program folder.
  ruleConversion_.sourcePath =
      PathToUtf16(programFolder_ / PathFromUtf16(ruleConversion_.sourcePath));
  setWindowTitle(ToQString(kWindowTitle));
  setWindowIcon(ProgramIcon());
  central_ = new QWidget(this);
  setCentralWidget(central_);
  const QFont font = ControlFont();

  filterLabel_ = new QLabel(QStringLiteral("  筛选编码："), central_);
  filterBox_ = new QLineEdit(central_);
  filterBox_->setObjectName(QStringLiteral("filterBox"));
  filterBox_->setMaxLength(kFilterLimit);
  exactBox_ = new QCheckBox(QStringLiteral("完全匹配的筛选"), central_);
  exactBox_->setObjectName(QStringLiteral("exactBox"));
  list_ = new QTableView(central_);
  list_->setObjectName(QStringLiteral("entryList"));
  list_->setModel(&model_);
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
                     static_cast<QWidget*>(exactBox_), static_cast<QWidget*>(list_)}) {
    w->setFont(font);
    // Codes are typed with the keyboard as it is: the input method stays off.
    w->setAttribute(Qt::WA_InputMethodEnabled, false);
  }
  const std::array<int, 4> widths = {200, 400, 90, 90};
  for (int c = 0; c < 4; ++c) list_->setColumnWidth(c, widths[c]);

  connect(filterBox_, &QLineEdit::textChanged, this, [this] { Refresh(); });
  connect(exactBox_, &QCheckBox::toggled, this, [this] { Refresh(); });
  connect(list_, &QTableView::customContextMenuRequested, this, &MainWindow::ShowContextMenu);
  connect(list_, &QTableView::doubleClicked, this, [this] {
    if (RowsVisible()) ModifyCommand();
  });

  BuildMenus();
  SetTableItemsEnabled(false);

  resize(800, 600);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move(std::max(0, (area.width() - 800) / 2), std::max(0, (area.height() - 600) / 2));
  }
  qApp->installEventFilter(this);
}

MainWindow::~MainWindow() { qApp->removeEventFilter(this); }

void MainWindow::BuildMenus() {
  for (int index = 0; index < 4; ++index) menuBar()->addMenu(BuildPopup(index, this, false));
}

QMenu* MainWindow::BuildPopup(int index, QWidget* parent, bool forContext) {
  static const std::array<const std::vector<MenuItem>*, 4> kMenus = {&kFileMenu, &kEditMenu,
                                                                     &kToolsMenu, &kHelpMenu};
  auto* menu = new QMenu(ToQString(kMenuTitles[index]), parent);
  auto addItems = [&](QMenu* into, const std::vector<MenuItem>& items, auto& self) -> void {
    for (const MenuItem& item : items) {
      if (item.command == kSeparator) {
        into->addSeparator();
      } else if (item.command == kSubmenu) {
        QMenu* sub = into->addMenu(ToQString(item.text));
        self(sub, kReorderMenu, self);
      } else {
        QAction* action = into->addAction(ToQString(item.text));
        const int number = item.command;
        connect(action, &QAction::triggered, this, [this, number] { Dispatch(number); });
        if (!forContext) actions_[number] = action;
      }
    }
  };
  addItems(menu, *kMenus[index], addItems);
  return menu;
}

QAction* MainWindow::action(int command) const {
  auto found = actions_.find(command);
  return found == actions_.end() ? nullptr : found->second;
}

void MainWindow::SetTableItemsEnabled(bool enabled) {
  for (int command : kTableItems) {
    if (QAction* a = action(command)) a->setEnabled(enabled);
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
  const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
  for (const Accelerator& accelerator : kAccelerators) {
    if (accelerator.key != key->key() || accelerator.modifiers != modifiers) continue;
    // A greyed item blocks its key too.
    QAction* item = action(accelerator.command);
    if (item == nullptr || item->isEnabled()) Dispatch(accelerator.command);
    return true;
  }
  return false;
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
  list_->setGeometry(0, 26, width, std::max(0, height - 26));
}

void MainWindow::Refresh() {
  if (!store_.IsOpen() || store_.RowCount() == 0) return;
  const std::u16string filter = ToU16(filterBox_->text().left(kFilterLimit));
  // Nothing paints while the store filters, so one reset of the list (which
  // drops its selection and scroll position) serves for before and after.
  (void)store_.ApplyFilter(filter, exactBox_->isChecked());
  model_.SetItemCount(static_cast<int>(store_.VisibleRowCount()));
  WriteTitle();
}

void MainWindow::WriteTitle() {
  const std::u16string filter = ToU16(filterBox_->text().left(kFilterLimit));
  std::u16string title =
      FormatText(u"Mirel码表编辑器 V3.0 - 当前总行数：%d，筛选编码：%s，筛选后个数：%d",
                 {static_cast<long long>(store_.RowCount()),
                  std::u16string_view(filter.empty() ? u"无" : filter),
                  static_cast<long long>(store_.VisibleRowCount())});
  setWindowTitle(ToQString(std::u16string_view(title).substr(0, kTitleLimit)));
}

bool MainWindow::Dispatch(int command) {
  if (command < kFirst || command > kLast) return false;
  static const std::vector<int> kRowsGate = {
      kCodeOrder1,       kCodeOrder2, kEntryOrder1, kEntryOrder2, kSourceOrder,     kFrequencyOrder,
      kMoveUp,           kMoveDown,   kMoveToTop,   kMoveToEnd,   kExportFrequency, kModify,
      kDelete,           kAdd,        kSaveAs,      kSave,        kClose,           kExtractSingle,
      kRemoveDuplicates, kCopy};
  if (std::find(kRowsGate.begin(), kRowsGate.end(), command) != kRowsGate.end() && !RowsVisible()) {
    return false;
  }
  if (auto handler = handlers_.find(command); handler != handlers_.end()) {
    handler->second();
    return true;
  }
  switch (command) {
    case kHelpIndex:
      services_.OpenWithShell(
          QUrl::fromLocalFile(ToQString(PathToUtf16(programFolder_ / "help" / "index.html"))));
      return true;
    case kCheckUpdates:
      services_.OpenWithShell(QUrl(kUpdatePage));
      return true;
    case kAbout: {
      AboutDialog about(this);
      about.exec();
      return true;
    }
    case kCodeOrder1:
      Reorder([this] { store_.SortByCode(1); });
      return true;
    case kCodeOrder2:
      Reorder([this] { store_.SortByCode(2); });
      return true;
    case kEntryOrder1:
      Reorder([this] { store_.SortByEntry(1); });
      return true;
    case kEntryOrder2:
      Reorder([this] { store_.SortByEntry(2); });
      return true;
    case kSourceOrder:
      Reorder([this] { store_.SortBySource(); });
      return true;
    case kFrequencyOrder:
      FrequencyOrderCommand();
      return true;
    case kMoveUp:
      MoveUp();
      return true;
    case kMoveDown:
      MoveDown();
      return true;
    case kMoveToTop:
      MoveToTop();
      return true;
    case kMoveToEnd:
      MoveToEnd();
      return true;
    case kExportFrequency:
      ExportFrequencyCommand();
      return true;
    case kModify:
      ModifyCommand();
      return true;
    case kDelete:
      DeleteCommand();
      return true;
    case kAdd:
      AddCommand();
      return true;
    case kSaveAs:
      SaveAs();
      return true;
    case kExit:
      ExitCommand();
      return true;
    case kOpen:
      OpenCommand();
      return true;
    case kSave:
      Save();
      return true;
    case kClose:
      CloseCommand();
      return true;
    case kExtractSingle:
      ExtractSingleCommand();
      return true;
    case kRemoveDuplicates:
      Reorder([this] { store_.RemoveDuplicates(); });
      return true;
    case kCopy:
      CopyCommand();
      return true;
    case kFocusCycle:
      FocusCycle();
      return true;
    case kStatistics:
      StatisticsCommand();
      return true;
    case kOpenInstalled:
      OpenInstalledCommand();
      return true;
    case kOpenLinux:
      OpenLinuxCommand();
      return true;
    case kLinuxHeader:
      linuxSession_.EditHeader(this);
      return true;
    case kReverseInstalled:
      ReverseInstalledCommand();
      return true;
    case kRuleConversion:
      ShowDialog<RuleConversionDialog>(ruleConversion_);
      return true;
    case kSingleCharacters:
      ShowDialog<SingleCharactersDialog>(singleCharacters_, programFolder_);
      return true;
    case kWordLibrary:
      ShowDialog<WordLibraryDialog>(wordLibrary_, programFolder_);
      return true;
    case kMerge:
      ShowDialog<MergeDialog>(merge_, programFolder_);
      return true;
    case kCommandTips:
      ShowDialog<CommandTipsDialog>(store_.temp());
      return true;
    case kCommonConversion:
      ShowDialog<CommonConversionDialog>(store_.temp());
      return true;
    default:
      // The tool dialogs that are not part of this program yet.
      return false;
  }
}

void MainWindow::Reorder(const std::function<void()>& sort) {
  if (!store_.IsOpen() || !RowsVisible()) return;
  model_.SetItemCount(0);
  sort();
  Refresh();
}

std::vector<int> MainWindow::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : list_->selectionModel()->selectedRows())
    rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void MainWindow::SelectRow(int row, bool select, bool current) {
  QItemSelectionModel* selection = list_->selectionModel();
  const QModelIndex index = model_.index(row, 0);
  selection->select(index, (select ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                               QItemSelectionModel::Rows);
  if (current) selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
}

bool MainWindow::OpenTable(const std::filesystem::path& path) {
  Result<uint32_t> loaded = store_.LoadTable(path);
  if (loaded.IsOk()) linuxSession_.End();
  if (!loaded.IsOk()) {
    services_.ShowMessage(this, QStringLiteral("无法打开码表文件。"), QStringLiteral("打开失败"),
                          UiServices::Icon::kError,
                          QString::fromStdString(loaded.status().message()));
    return false;
  }
  if (store_.VisibleRowCount() > 0) {
    SetTableItemsEnabled(true);
    Refresh();
  } else {
    SetTableItemsEnabled(false);
    model_.SetItemCount(0);
  }
  // The rows are open; the lines left out are told, so that a save that
  // drops them does not come as a surprise.
  if (const LinesWithoutTab& skipped = store_.linesWithoutTab(); !skipped.empty()) {
    services_.ShowMessage(this, QStringLiteral("码表中没有Tab的行未被读入。"),
                          QStringLiteral("打开码表"), UiServices::Icon::kInformation,
                          QString::fromStdString(skipped.Describe()));
  }
  return true;
}

void MainWindow::OpenCommand() {
  if (RowsVisible() && CloseCommand() == 1) return;
  {
    const QSignalBlocker quiet(filterBox_);
    filterBox_->clear();
  }
  const QString picked = services_.PickOpenFile(this, kTablePickerTitle);
  if (picked.isEmpty() || !QFileInfo::exists(picked)) return;
  OpenTable(PathFromUtf16(ToU16(picked)));
}

int MainWindow::CloseCommand() {
  if (store_.IsOpen() && RowsVisible() && (store_.dirty() || linuxSession_.headerChanged())) {
    if (services_.AskYesNo(this, QStringLiteral("打开文件的内容已经改变，是否保存这些修改?"),
                           kSaveQuestionCaption) &&
        !Save()) {
      return 1;
    }
  }
  store_.CloseTable();
  linuxSession_.End();
  SetTableItemsEnabled(false);
  model_.SetItemCount(0);
  return 0;
}

void MainWindow::ExitCommand() {
  if (store_.IsOpen() && RowsVisible() && (store_.dirty() || linuxSession_.headerChanged()) &&
      services_.AskYesNo(this, QStringLiteral("打开文件的内容已经改变，是否保存这些修改？"),
                         kSaveQuestionCaption) &&
      !Save()) {
    return;
  }
  close();
}

void MainWindow::ShowSaveFailure(const Status& status) {
  services_.ShowMessage(this, kSaveFailure, kSaveFailureCaption, UiServices::Icon::kError,
                        QString::fromStdString(status.message()));
}

bool MainWindow::Save() {
  if (linuxSession_.active()) return linuxSession_.Save(this);
  bool cancelled = false;
  Status saved = store_.SaveTable(SaveMode::kSave, {}, [&](const Status&) {
    const bool retry = services_.AskRetry(
        this,
        QStringLiteral("无法替换主码表文件。请关闭正在使用当前输入法的程序，然后单击“重试”。"),
        QStringLiteral("是否重试？"));
    cancelled = !retry;
    return retry;
  });
  if (saved.IsOk()) return true;
  if (!cancelled) ShowSaveFailure(saved);
  return false;
}

QString MainWindow::PickExportPath() {
  QString picked = services_.PickSaveFile(this, QStringLiteral("导出为文本文件"));
  if (picked.isEmpty()) return picked;
  if (picked.size() < 4 || picked[picked.size() - 4] != u'.') picked += QStringLiteral(".txt");
  return picked;
}

bool MainWindow::SaveAs() {
  const QString picked = PickExportPath();
  if (picked.isEmpty()) return false;
  Status saved = store_.SaveTable(SaveMode::kSaveAs, PathFromUtf16(ToU16(picked)));
  if (!saved.IsOk()) {
    ShowSaveFailure(saved);
    return false;
  }
  return true;
}

void MainWindow::DeleteCommand() {
  const std::vector<int> rows = SelectedRows();
  if (rows.empty()) return;
  if (!services_.AskYesNo(this, QStringLiteral("是否删除所有选中行？"),
                          QStringLiteral("确认删除？"))) {
    return;
  }
  std::vector<uint32_t> dataRows;
  for (int v : rows) dataRows.push_back(store_.DataRowOf(static_cast<uint32_t>(v)));
  model_.SetItemCount(0);
  for (auto it = dataRows.rbegin(); it != dataRows.rend(); ++it) store_.DeleteRow(*it);
  Refresh();
}

void MainWindow::CopyCommand() {
  const std::vector<int> rows = SelectedRows();
  if (rows.empty()) return;
  constexpr size_t kLimit = 4095;
  std::u16string text, code, entry;
  auto append = [&](std::u16string_view piece) {
    text.append(piece.substr(0, kLimit - std::min(kLimit, text.size())));
  };
  for (int v : rows) {
    if (text.size() >= kLimit - 1) break;
    store_.RowText(static_cast<uint32_t>(v), RowTextKind::kCode, code);
    store_.RowText(static_cast<uint32_t>(v), RowTextKind::kEntry, entry);
    append(code);
    append(u"\t");
    append(entry);
    append(u"\r\n");
  }
  services_.SetClipboardText(ToQString(text));
}

void MainWindow::MoveUp() {
  const std::vector<int> rows = SelectedRows();
  QItemSelectionModel* selection = list_->selectionModel();
  for (int p : rows) {
    if (p == 0 || selection->isRowSelected(p - 1)) continue;
    store_.MoveRowEarlier(static_cast<uint32_t>(p), static_cast<uint32_t>(p - 1));
    const bool wasCurrent = list_->currentIndex().row() == p - 1;
    SelectRow(p, false, wasCurrent);
    SelectRow(p - 1, true, true);
    model_.RowsChanged(p - 1, p);
  }
  list_->setFocus();
}

void MainWindow::MoveDown() {
  const std::vector<int> rows = SelectedRows();
  QItemSelectionModel* selection = list_->selectionModel();
  const int last = model_.itemCount() - 1;
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    const int p = *it;
    if (p >= last || selection->isRowSelected(p + 1)) continue;
    store_.MoveRowLater(static_cast<uint32_t>(p), static_cast<uint32_t>(p + 1));
    const bool wasCurrent = list_->currentIndex().row() == p + 1;
    SelectRow(p, false, wasCurrent);
    SelectRow(p + 1, true, true);
    model_.RowsChanged(p, p + 1);
  }
  list_->setFocus();
}

void MainWindow::MoveToTop() {
  const std::vector<int> rows = SelectedRows();
  QItemSelectionModel* selection = list_->selectionModel();
  int k = 0;
  for (int p : rows) {
    if (p > 0 && !selection->isRowSelected(k)) {
      store_.MoveRowEarlier(static_cast<uint32_t>(p), 0);
      const bool wasCurrent = list_->currentIndex().row() == k;
      SelectRow(p, selection->isRowSelected(k), wasCurrent);
      SelectRow(k, true, true);
      model_.RowsChanged(0, p);
    }
    ++k;
  }
  list_->setFocus();
}

void MainWindow::MoveToEnd() {
  const std::vector<int> rows = SelectedRows();
  QItemSelectionModel* selection = list_->selectionModel();
  int t = model_.itemCount() - 1;
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    const int p = *it;
    if (p < t && !selection->isRowSelected(t)) {
      store_.MoveRowLater(static_cast<uint32_t>(p), static_cast<uint32_t>(t));
      const bool wasCurrent = list_->currentIndex().row() == t;
      SelectRow(p, false, wasCurrent);
      SelectRow(t, true, true);
      model_.RowsChanged(p, t);
    }
    --t;
  }
  list_->setFocus();
}

void MainWindow::ModifyCommand() {
  const std::vector<int> rows = SelectedRows();
  if (rows.empty()) return;
  const int p = rows.front();
  std::u16string code, entry;
  store_.RowText(static_cast<uint32_t>(p), RowTextKind::kCode, code);
  store_.RowText(static_cast<uint32_t>(p), RowTextKind::kEntry, entry);
  const uint32_t tableRow = store_.DataRowOf(static_cast<uint32_t>(p));
  model_.SetItemCount(0);
  ModifyDialog dialog(this, services_, ToQString(code).left(ModifyDialog::kFieldLimit),
                      ToQString(entry).left(ModifyDialog::kFieldLimit),
                      [&](const QString& newCode, const QString& newEntry) {
                        return store_.ModifyRow(static_cast<uint32_t>(p), tableRow, ToU16(newCode),
                                                ToU16(newEntry));
                      });
  dialog.exec();
  Refresh();
  const int count = model_.itemCount();
  if (p < count) {
    list_->selectionModel()->setCurrentIndex(
        model_.index(p, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    // Show the row with some rows of context below it.
    const int n = p + 10 < count ? 10 : count - p - 1;
    list_->scrollTo(model_.index(p + std::max(n, 0), 0));
    list_->scrollTo(model_.index(p, 0));
  }
  list_->setFocus();
}

void MainWindow::AddCommand() {
  auto insertAt = [this]() -> uint32_t {
    const std::vector<int> rows = SelectedRows();
    return rows.empty() ? store_.RowCount()
                        : store_.DataRowOf(static_cast<uint32_t>(rows.front())) + 1;
  };
  AddEntryDialog dialog(
      this, services_,
      [&](const QString& code, const QString& entry) {
        Status inserted = store_.InsertRows(insertAt(), {ToU16(entry) + u"\t" + ToU16(code)});
        if (inserted.IsOk()) Refresh();
        return inserted;
      },
      [&](const QString& path) -> Result<uint32_t> {
        Result<std::vector<std::u16string>> rows = TableStore::ReadRows(store_.fs(), PathFromUtf16(ToU16(path)));
        if (!rows.IsOk()) return rows.status();
        Status inserted = store_.InsertRows(store_.RowCount(), rows.value());
        if (!inserted.IsOk()) return inserted;
        Refresh();
        return static_cast<uint32_t>(rows->size());
      });
  dialog.exec();
}

void MainWindow::FrequencyOrderCommand() {
  const QString picked = services_.PickOpenFile(this, QStringLiteral("选择Mirel词频文件:"));
  if (picked.isEmpty() || !QFileInfo(picked).isFile()) return;
  model_.SetItemCount(0);
  Status sorted = store_.SortByFrequency(PathFromUtf16(ToU16(picked)));
  Refresh();
  if (!sorted.IsOk()) {
    services_.ShowMessage(this, QStringLiteral("无法读取词频文件。"), QStringLiteral("排序失败"),
                          UiServices::Icon::kError, QString::fromStdString(sorted.message()));
  }
}

void MainWindow::ExportFrequencyCommand() {
  const QString picked = PickExportPath();
  if (picked.isEmpty()) return;
  Status written = store_.ExportInstantFrequency(PathFromUtf16(ToU16(picked)));
  if (!written.IsOk()) {
    services_.ShowMessage(this, QStringLiteral("无法写入文件。"), QStringLiteral("导出失败"),
                          UiServices::Icon::kError, QString::fromStdString(written.message()));
  }
}

void MainWindow::ExtractSingleCommand() {
  const QString picked = PickExportPath();
  if (picked.isEmpty()) return;
  Result<uint32_t> written = store_.ExportSingleCharacters(PathFromUtf16(ToU16(picked)));
  services_.ShowMessage(
      this,
      ToQString(FormatText(u"导出用户单字码表数：%d个。",
                           {static_cast<long long>(written.IsOk() ? written.value() : 0)})),
      QStringLiteral("导出完毕"), UiServices::Icon::kError,
      written.IsOk() ? QString() : QString::fromStdString(written.status().message()));
}

bool MainWindow::OpenInstalled(const InstalledTable& table) {
  if (!OpenTable(table.localCopy)) return false;
  store_.SetCompiledTarget(CompiledTarget{table.mainTable, table.settings});
  return true;
}

void MainWindow::OpenInstalledCommand() {
  if (RowsVisible() && CloseCommand() == 1) return;
  {
    const QSignalBlocker quiet(filterBox_);
    filterBox_->clear();
  }
  Result<InstalledCopies> copies = InstalledCopies::Load(store_.fs(), installedEnvironment_);
  if (!copies.IsOk()) {
    services_.ShowMessage(this, QStringLiteral("无法读取输入法的安装信息。"),
                          QStringLiteral("无法执行的操作请求"), UiServices::Icon::kError,
                          QString::fromStdString(copies.status().message()));
    return;
  }
  std::optional<InstalledTable> chosen = InstalledDialog::Run(
      this, services_, copies.value(), store_.temp(), InstalledDialog::Mode::kOpen);
  if (chosen) OpenInstalled(*chosen);
}

void MainWindow::OpenLinuxCommand() {
  if (RowsVisible() && CloseCommand() == 1) return;
  std::optional<std::filesystem::path> text = linuxSession_.Choose(this, linuxEnvironment_);
  if (text && OpenTable(*text)) linuxSession_.Begin();
}

bool MainWindow::OpenLinuxTable(const LinuxTableInfo& table) {
  std::optional<std::filesystem::path> text = linuxSession_.Prepare(this, table);
  if (!text || !OpenTable(*text)) return false;
  linuxSession_.Begin();
  return true;
}

void MainWindow::ReverseInstalledCommand() {
  Result<InstalledCopies> copies = InstalledCopies::Load(store_.fs(), installedEnvironment_);
  if (!copies.IsOk()) {
    services_.ShowMessage(this, QStringLiteral("无法读取输入法的安装信息。"),
                          QStringLiteral("无法执行的操作请求"), UiServices::Icon::kError,
                          QString::fromStdString(copies.status().message()));
    return;
  }
  InstalledDialog::Run(this, services_, copies.value(), store_.temp(),
                       InstalledDialog::Mode::kReverse);
}

void MainWindow::StatisticsCommand() {
  if (!store_.IsOpen()) return;
  if (store_.dirty() &&
      !services_.AskYesNo(this,
                          QStringLiteral("打开文件的内容已经改变，是否保存这些修改？\r\n单击“是”保"
                                         "存这些修改，并继续执行统计操作。"),
                          kSaveQuestionCaption)) {
    return;
  }
  model_.SetItemCount(0);
  // The report describes the saved table; a table that cannot be saved gets
  // no report and keeps its rows as they are.
  if (!Save()) {
    Refresh();
    return;
  }
  const std::filesystem::path report = store_.temp().TempPath(kStatisticsReportName);
  Status written = WriteStatisticsReport(store_, report);
  Status reloaded = store_.ReloadSaved();
  if (written.IsOk()) {
    services_.OpenWithShell(QUrl::fromLocalFile(ToQString(PathToUtf16(report))));
  } else {
    services_.ShowMessage(this, QStringLiteral("无法写入统计文档。"), QStringLiteral("统计信息"),
                          UiServices::Icon::kError, QString::fromStdString(written.message()));
  }
  if (!reloaded.IsOk()) {
    services_.ShowMessage(this, QStringLiteral("无法重新读取码表文件。"),
                          QStringLiteral("统计信息"), UiServices::Icon::kError,
                          QString::fromStdString(reloaded.message()));
  }
  Refresh();
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

void MainWindow::ShowContextMenu(const QPoint& at) {
  // Fresh from the menu table, so nothing in it is greyed.
  QMenu* menu = BuildPopup(RowsVisible() ? 1 : 2, this, true);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(list_->viewport()->mapToGlobal(at));
}

}  // namespace mirel
