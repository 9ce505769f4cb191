#include "convert/ui/linux_header_dialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace mirel {

std::optional<std::string> LinuxHeaderDialog::Run(QWidget* parent, UiServices& services,
                                                  linux_table::LinuxFormat format,
                                                  const std::string& header, ConfirmRows confirm) {
  LinuxHeaderDialog dialog(parent, services, format, header, std::move(confirm));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.header();
}

LinuxHeaderDialog::LinuxHeaderDialog(QWidget* parent, UiServices& services,
                                     linux_table::LinuxFormat format, const std::string& header,
                                     ConfirmRows confirm)
    : QDialog(parent),
      services_(services),
      format_(format),
      confirm_(std::move(confirm)),
      header_(header) {
  setObjectName(QStringLiteral("linuxHeaderDialog"));
  setWindowTitle(QStringLiteral("表头"));
  editor_ = new QPlainTextEdit(QString::fromStdString(header), this);
  editor_->setObjectName(QStringLiteral("headerText"));
  editor_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &LinuxHeaderDialog::Confirm);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  const linux_table::LinuxFormatInfo& info = linux_table::InfoOf(format);
  auto* column = new QVBoxLayout(this);
  column->addWidget(new QLabel(
      QStringLiteral("%1的表头（键位、最大码长、构词规则、名称等），保存码表时一并写入。")
          .arg(QString::fromUtf16(info.label.data(), static_cast<qsizetype>(info.label.size()))),
      this));
  column->addWidget(editor_, 1);
  column->addWidget(buttons);
  resize(640, 480);
}

void LinuxHeaderDialog::Confirm() {
  std::string text = editor_->toPlainText().toStdString();
  if (!text.empty() && !text.ends_with('\n')) text += '\n';
  const Status valid = linux_table::ValidateHeader(format_, text);
  if (!valid.IsOk()) {
    services_.ShowMessage(this, QStringLiteral("表头有误，请修改后再确定。"),
                          QStringLiteral("表头"), UiServices::Icon::kError,
                          QString::fromStdString(valid.message()));
    return;
  }
  if (confirm_ && !confirm_(this, text)) return;
  header_ = std::move(text);
  accept();
}

QStringList SaveCheckItems(const SaveCheck& check) {
  QStringList items;
  for (const SaveFinding& f : check.findings) {
    const QString text = QString::fromStdString(f.text);
    items << (f.line ? QStringLiteral("第%1行：%2").arg(f.line).arg(text) : text);
  }
  return items;
}

}  // namespace mirel
