#include "platform/ui/ui_services.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

namespace mirel {
namespace {

const QString kFileFilter = QStringLiteral("txt文件(*.txt);;所有文件(*.*)");
// Every suffix a table Mirel reads comes with; fcitx5 and ibus-table
// sources are .txt files, and a file of another name is read by content.
const QString kTableFilter = QStringLiteral(
    "码表文件(*.txt *.ktb *.dict.yaml *.main.dict *.db);;Mirel码表(*.txt *.ktb);;"
    "fcitx5码表(*.txt *.main.dict);;Rime词典(*.dict.yaml);;ibus-table码表(*.txt *.db);;"
    "所有文件(*)");

}  // namespace

bool DesktopUiServices::AskYesNo(QWidget* parent, const QString& text, const QString& caption) {
  return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

UiServices::Answer DesktopUiServices::AskYesNoCancel(QWidget* parent, const QString& text,
                                                     const QString& caption) {
  const QMessageBox::StandardButton answer = QMessageBox::question(
      parent, caption, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
      QMessageBox::Yes);
  if (answer == QMessageBox::Yes) return Answer::kYes;
  return answer == QMessageBox::No ? Answer::kNo : Answer::kCancel;
}

bool DesktopUiServices::AskRetry(QWidget* parent, const QString& text, const QString& caption) {
  return QMessageBox::question(parent, caption, text, QMessageBox::Retry | QMessageBox::Cancel) ==
         QMessageBox::Retry;
}

void DesktopUiServices::ShowMessage(QWidget* parent, const QString& text, const QString& caption,
                                    Icon icon, const QString& detail) {
  QMessageBox box(icon == Icon::kError      ? QMessageBox::Critical
                  : icon == Icon::kQuestion ? QMessageBox::Question
                                            : QMessageBox::Information,
                  caption, text, QMessageBox::Ok, parent);
  // A long detail goes into the box's scrolling part; as informative text
  // it would grow the box past the screen and hide its button.
  constexpr qsizetype kShownLines = 15;
  const QStringList lines = detail.split(u'\n', Qt::SkipEmptyParts);
  if (lines.size() > kShownLines) {
    box.setInformativeText(lines.mid(0, kShownLines).join(u'\n') + QStringLiteral("\n……"));
    box.setDetailedText(detail);
  } else if (!detail.isEmpty()) {
    box.setInformativeText(detail);
  }
  box.exec();
}

bool DesktopUiServices::ConfirmChanges(QWidget* parent, const QString& caption, const QString& text,
                                       const QStringList& items, const QString& proceed,
                                       const QString& back) {
  // A list that scrolls, so that thousands of rows never make the dialog
  // taller than the screen.
  QDialog dialog(parent);
  dialog.setWindowTitle(caption);
  auto* column = new QVBoxLayout(&dialog);
  auto* label = new QLabel(text, &dialog);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  column->addWidget(label);
  if (!items.isEmpty()) {
    auto* list = new QListWidget(&dialog);
    list->setObjectName(QStringLiteral("changedRows"));
    list->addItems(items);
    list->setMinimumHeight(160);
    column->addWidget(list, 1);
  }
  auto* buttons = new QDialogButtonBox(&dialog);
  buttons->addButton(proceed, QDialogButtonBox::AcceptRole);
  QPushButton* no = buttons->addButton(back, QDialogButtonBox::RejectRole);
  // Enter alone must not lose rows.
  no->setDefault(true);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  column->addWidget(buttons);
  dialog.resize(560, items.isEmpty() ? 200 : 420);
  return dialog.exec() == QDialog::Accepted;
}

QString DesktopUiServices::PickOpenFile(QWidget* parent, const QString& title) {
  return QFileDialog::getOpenFileName(parent, title, QString(), kFileFilter);
}

QString DesktopUiServices::PickSaveFile(QWidget* parent, const QString& title,
                                        const QString& suggested) {
  return QFileDialog::getSaveFileName(parent, title, suggested, kFileFilter);
}

QString DesktopUiServices::PickTableToOpen(QWidget* parent, const QString& title) {
  return QFileDialog::getOpenFileName(parent, title, QString(), kTableFilter);
}

void DesktopUiServices::SetClipboardText(const QString& text) {
  QApplication::clipboard()->setText(text);
}

bool DesktopUiServices::OpenWithShell(const QUrl& url) { return QDesktopServices::openUrl(url); }

}  // namespace mirel
