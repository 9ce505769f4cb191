#include "platform/ui/ui_services.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>

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
  if (!detail.isEmpty()) box.setInformativeText(detail);
  box.exec();
}

QString DesktopUiServices::PickOpenFile(QWidget* parent, const QString& title) {
  return QFileDialog::getOpenFileName(parent, title, QString(), kFileFilter);
}

QString DesktopUiServices::PickSaveFile(QWidget* parent, const QString& title) {
  return QFileDialog::getSaveFileName(parent, title, QString(), kFileFilter);
}

QString DesktopUiServices::PickTableToOpen(QWidget* parent, const QString& title) {
  return QFileDialog::getOpenFileName(parent, title, QString(), kTableFilter);
}

void DesktopUiServices::SetClipboardText(const QString& text) {
  QApplication::clipboard()->setText(text);
}

bool DesktopUiServices::OpenWithShell(const QUrl& url) { return QDesktopServices::openUrl(url); }

}  // namespace mirel
