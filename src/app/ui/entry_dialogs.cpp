#include "app/ui/entry_dialogs.h"

#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "app/table_editor.h"
#include "app/ui/chinese_ui.h"

namespace mirel {
namespace {

const QString kInputError = QStringLiteral("错误的输入");
const QString kRowBreak =
    QStringLiteral("编码和词条中不能含有制表符（TAB）或换行符：它们会把一行拆成几行。");

// A TAB or line break typed or pasted into a field would split the row it
// is written into; such a field is refused with its focus back.
bool RefuseRowBreak(QWidget* dialog, UiServices& services, QLineEdit* field) {
  if (!HoldsRowBreak(field->text().toStdU16String())) return false;
  services.ShowMessage(dialog, kRowBreak, kInputError, UiServices::Icon::kError);
  field->setFocus();
  return true;
}

// Alt+X is the exit command; in a dialog it closes the dialog.
void CloseOnExitKey(QDialog* dialog) {
  auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_X), dialog);
  QObject::connect(shortcut, &QShortcut::activated, dialog, &QDialog::reject);
}

QLineEdit* NewEdit(QWidget* parent, int limit, const QString& name) {
  auto* edit = new QLineEdit(parent);
  edit->setMaxLength(limit);
  edit->setObjectName(name);
  // Codes are typed with the input method off, as in the main window.
  edit->setAttribute(Qt::WA_InputMethodEnabled, false);
  return edit;
}

}  // namespace

QIcon ProgramIcon() {
  QPixmap pixmap(64, 64);
  pixmap.fill(QColor(0x1f, 0x5f, 0x9f));
  QPainter painter(&pixmap);
  painter.setPen(Qt::white);
  QFont font;
  font.setPixelSize(44);
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("码"));
  return QIcon(pixmap);
}

ModifyDialog::ModifyDialog(QWidget* parent, UiServices& services, const QString& code,
                           const QString& entry, Apply apply)
    : QDialog(parent), services_(services), apply_(std::move(apply)) {
  setWindowTitle(QStringLiteral("修改词条"));
  setObjectName(QStringLiteral("modifyDialog"));
  code_ = NewEdit(this, kFieldLimit, QStringLiteral("code"));
  entry_ = NewEdit(this, kFieldLimit, QStringLiteral("entry"));
  code_->setText(code.left(kFieldLimit));
  entry_->setText(entry.left(kFieldLimit));
  QFont large;
  large.setFamilies(EditorFontFamilies());
  large.setPixelSize(28);
  large.setWeight(QFont::Thin);
  code_->setFont(large);
  entry_->setFont(large);

  auto* ok = new QPushButton(QStringLiteral("确定"), this);
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("取消"), this);
  connect(ok, &QPushButton::clicked, this, &ModifyDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &ModifyDialog::reject);

  auto* codeLabel = new QLabel(QStringLiteral("编码(&K)："), this);
  codeLabel->setBuddy(code_);
  auto* entryLabel = new QLabel(QStringLiteral("词条(&D)："), this);
  entryLabel->setBuddy(entry_);
  auto* grid = new QGridLayout(this);
  grid->addWidget(codeLabel, 0, 0);
  grid->addWidget(code_, 0, 1);
  grid->addWidget(ok, 0, 2);
  grid->addWidget(entryLabel, 1, 0);
  grid->addWidget(entry_, 1, 1);
  grid->addWidget(cancel, 1, 2);
  CloseOnExitKey(this);
  code_->setFocus();
  code_->selectAll();
}

void ModifyDialog::accept() {
  const QString code = code_->text().left(kFieldLimit);
  const QString entry = entry_->text().left(kFieldLimit);
  if (code.isEmpty()) {
    services_.ShowMessage(this, QStringLiteral("必须输入编码"), kInputError,
                          UiServices::Icon::kError);
    code_->setFocus();
    return;
  }
  if (entry.isEmpty()) {
    services_.ShowMessage(this, QStringLiteral("必须输入词条"), kInputError,
                          UiServices::Icon::kError);
    entry_->setFocus();
    return;
  }
  if (RefuseRowBreak(this, services_, code_) || RefuseRowBreak(this, services_, entry_)) return;
  if (apply_(code, entry) != 0) {
    services_.ShowMessage(this, QStringLiteral("修改失败：重设临时文件大小出现异常。"),
                          QStringLiteral("修改词条错误"), UiServices::Icon::kError);
    return;
  }
  QDialog::accept();
}

AddEntryDialog::AddEntryDialog(QWidget* parent, UiServices& services, InsertOne insertOne,
                               InsertFile insertFile)
    : QDialog(parent),
      services_(services),
      insertOne_(std::move(insertOne)),
      insertFile_(std::move(insertFile)) {
  setWindowTitle(QStringLiteral("插入词条"));
  setObjectName(QStringLiteral("addEntryDialog"));
  single_ = new QRadioButton(QStringLiteral("单个词条"), this);
  file_ = new QRadioButton(QStringLiteral("添加选择文件中的所有词条"), this);
  code_ = NewEdit(this, kFieldLimit, QStringLiteral("code"));
  entry_ = NewEdit(this, kFieldLimit, QStringLiteral("entry"));
  path_ = new QLineEdit(this);
  path_->setObjectName(QStringLiteral("path"));
  browse_ = new QPushButton(QStringLiteral("浏览(&B)"), this);
  status_ = new QLineEdit(this);
  status_->setReadOnly(true);
  status_->setObjectName(QStringLiteral("status"));
  import_ = new QPushButton(QStringLiteral("导入"), this);
  import_->setDefault(true);
  auto* quit = new QPushButton(QStringLiteral("退出"), this);

  auto* singleBox = new QGroupBox(this);
  auto* singleGrid = new QGridLayout(singleBox);
  singleGrid->addWidget(new QLabel(QStringLiteral("编码："), singleBox), 0, 0);
  singleGrid->addWidget(code_, 0, 1);
  singleGrid->addWidget(new QLabel(QStringLiteral("词条："), singleBox), 1, 0);
  singleGrid->addWidget(entry_, 1, 1);
  auto* fileBox = new QGroupBox(this);
  auto* fileRow = new QHBoxLayout(fileBox);
  fileRow->addWidget(path_);
  fileRow->addWidget(browse_);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(status_, 1);
  buttons->addWidget(import_);
  buttons->addWidget(quit);
  auto* column = new QVBoxLayout(this);
  column->addWidget(single_);
  column->addWidget(singleBox);
  column->addWidget(file_);
  column->addWidget(fileBox);
  column->addLayout(buttons);

  connect(single_, &QRadioButton::toggled, this, [this](bool on) { SetMode(on); });
  connect(import_, &QPushButton::clicked, this, &AddEntryDialog::Import);
  connect(quit, &QPushButton::clicked, this, &QDialog::reject);
  connect(browse_, &QPushButton::clicked, this, [this] {
    QString picked = services_.PickOpenFile(this, QStringLiteral("选择码表文件:"));
    if (!picked.isEmpty()) path_->setText(picked);
  });
  CloseOnExitKey(this);
  single_->setChecked(true);
  SetMode(true);
}

void AddEntryDialog::SetMode(bool single) {
  code_->setEnabled(single);
  entry_->setEnabled(single);
  path_->setEnabled(!single);
  browse_->setEnabled(!single);
  (single ? code_ : path_)->setFocus();
}

void AddEntryDialog::Import() {
  if (single_->isChecked()) {
    const QString code = code_->text().left(kFieldLimit);
    const QString entry = entry_->text().left(kFieldLimit);
    if (code.isEmpty() || entry.isEmpty()) {
      services_.ShowMessage(
          this, code.isEmpty() ? QStringLiteral("必须输入编码") : QStringLiteral("必须输入词条"),
          kInputError, UiServices::Icon::kError);
      (code.isEmpty() ? code_ : entry_)->setFocus();
      return;
    }
    if (RefuseRowBreak(this, services_, code_) || RefuseRowBreak(this, services_, entry_)) return;
    Status inserted = insertOne_(code, entry);
    if (!inserted.IsOk()) {
      status_->setText(QString::fromStdString(inserted.message()));
      return;
    }
    status_->setText(QStringLiteral("已插入：%1 %2").arg(entry, code));
    code_->clear();
    entry_->clear();
    code_->setFocus();
    return;
  }
  const QString path = path_->text();
  if (path.isEmpty()) {
    services_.ShowMessage(this, QStringLiteral("请选择码表文件"), kInputError,
                          UiServices::Icon::kError);
    path_->setFocus();
    return;
  }
  Result<uint32_t> added = insertFile_(path);
  status_->setText(added.IsOk() ? QStringLiteral("已导入%1个词条。").arg(added.value())
                                : QString::fromStdString(added.status().message()));
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("关于"));
  setObjectName(QStringLiteral("aboutDialog"));
  auto* text = new QLabel(QStringLiteral("Mirel码表编辑器 Version 3.0.0.423"), this);
  text->setObjectName(QStringLiteral("aboutText"));
  auto* icon = new QLabel(this);
  icon->setPixmap(ProgramIcon().pixmap(32, 32));
  auto* ok = new QPushButton(QStringLiteral("确定"), this);
  ok->setObjectName(QStringLiteral("aboutOk"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* row = new QHBoxLayout;
  row->addWidget(text, 1);
  row->addWidget(icon);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  auto* column = new QVBoxLayout(this);
  column->addLayout(row);
  column->addLayout(buttons);
  CloseOnExitKey(this);
}

}  // namespace mirel
