// The services of the desktop that the editor's commands use: message boxes,
// file pickers, the clipboard and "open with the shell". The window talks to
// them only through this interface, so tests answer every prompt themselves.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

namespace mirel {

class UiServices {
 public:
  enum class Icon { kError, kQuestion, kInformation };
  enum class Answer { kYes, kNo, kCancel };

  virtual ~UiServices() = default;

  // Yes/No question; true for Yes.
  virtual bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) = 0;
  // Yes/No/Cancel question (是/否/取消); Escape and the close box answer
  // Cancel.
  virtual Answer AskYesNoCancel(QWidget* parent, const QString& text, const QString& caption) = 0;
  // Retry/Cancel question; true for Retry.
  virtual bool AskRetry(QWidget* parent, const QString& text, const QString& caption) = 0;
  // A message with an OK button; `detail` is shown below the text when set.
  virtual void ShowMessage(QWidget* parent, const QString& text, const QString& caption, Icon icon,
                           const QString& detail = {}) = 0;
  // What is about to be lost or changed (`text`, with the counts) and the
  // first rows concerned (`items`, in a scrolling list), with the buttons
  // `proceed` and `back`; true for `proceed`. Escape and the close box
  // answer `back`.
  virtual bool ConfirmChanges(QWidget* parent, const QString& caption, const QString& text,
                              const QStringList& items, const QString& proceed,
                              const QString& back) = 0;
  // File pickers over "txt文件(*.txt)" and "所有文件(*.*)"; empty when cancelled.
  // The save picker starts at `suggested` when one is given.
  virtual QString PickOpenFile(QWidget* parent, const QString& title) = 0;
  virtual QString PickSaveFile(QWidget* parent, const QString& title,
                               const QString& suggested = {}) = 0;
  // The picker for a table to open, in any format Mirel reads: "码表文件"
  // with every table suffix first.
  virtual QString PickTableToOpen(QWidget* parent, const QString& title) = 0;
  virtual void SetClipboardText(const QString& text) = 0;
  // Opens a file or page with the desktop's default program.
  virtual bool OpenWithShell(const QUrl& url) = 0;
};

// The real desktop: QMessageBox, QFileDialog, QClipboard, QDesktopServices.
class DesktopUiServices : public UiServices {
 public:
  bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) override;
  Answer AskYesNoCancel(QWidget* parent, const QString& text, const QString& caption) override;
  bool AskRetry(QWidget* parent, const QString& text, const QString& caption) override;
  void ShowMessage(QWidget* parent, const QString& text, const QString& caption, Icon icon,
                   const QString& detail) override;
  bool ConfirmChanges(QWidget* parent, const QString& caption, const QString& text,
                      const QStringList& items, const QString& proceed,
                      const QString& back) override;
  QString PickOpenFile(QWidget* parent, const QString& title) override;
  QString PickSaveFile(QWidget* parent, const QString& title,
                       const QString& suggested = {}) override;
  QString PickTableToOpen(QWidget* parent, const QString& title) override;
  void SetClipboardText(const QString& text) override;
  bool OpenWithShell(const QUrl& url) override;
};

}  // namespace mirel
