#include "ime/ui/installed_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>

#include "platform/paths.h"

namespace mirel {
namespace {

const QString kPrompt = QStringLiteral("提示");

QString FromUtf16(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

std::optional<InstalledTable> InstalledDialog::Run(QWidget* parent, UiServices& services,
                                                   const InstalledCopies& copies,
                                                   const TempFolder& temp, Mode mode) {
  // Copies without a display name are not offered.
  std::vector<std::pair<QString, std::u16string>> offered;
  for (const std::u16string& key : copies.List()) {
    const std::u16string name = copies.DisplayName(key);
    if (!name.empty()) offered.emplace_back(FromUtf16(name), key);
  }
  if (offered.empty()) {
    services.ShowMessage(parent,
                         QStringLiteral("当前计算机尚未安装任何Mirel输入法,所以无法执行该操作。"),
                         QStringLiteral("无法执行的操作请求"), UiServices::Icon::kError);
    return std::nullopt;
  }
  InstalledDialog dialog(parent, services, copies, temp, mode, std::move(offered));
  dialog.exec();
  return dialog.chosen();
}

InstalledDialog::InstalledDialog(QWidget* parent, UiServices& services,
                                 const InstalledCopies& copies, const TempFolder& temp, Mode mode,
                                 std::vector<std::pair<QString, std::u16string>> offered)
    : QDialog(parent),
      services_(services),
      copies_(copies),
      temp_(temp),
      mode_(mode),
      offered_(std::move(offered)) {
  setObjectName(QStringLiteral("installedDialog"));
  setWindowTitle(mode == Mode::kReverse ? QStringLiteral("Mirel输入法码表反转")
                                        : QStringLiteral("打开安装的Mirel输入法码表"));
  list_ = new QComboBox(this);
  for (const auto& [name, key] : offered_) list_->addItem(name);
  list_->setCurrentIndex(0);
  auto* label = new QLabel(QStringLiteral("安装的输入法(&K)："), this);
  label->setBuddy(list_);
  userLibrary_ = new QCheckBox(QStringLiteral("转换用户词库(&U)"), this);
  userLibrary_->setVisible(mode == Mode::kReverse);
  auto* ok = new QPushButton(QStringLiteral("确定(&O)"), this);
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("取消(&C)"), this);
  connect(ok, &QPushButton::clicked, this, &InstalledDialog::Confirm);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* exitKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_X), this);
  connect(exitKey, &QShortcut::activated, this, &QDialog::reject);

  auto* grid = new QGridLayout(this);
  grid->addWidget(label, 0, 0);
  grid->addWidget(list_, 0, 1);
  grid->addWidget(ok, 0, 2);
  grid->addWidget(userLibrary_, 1, 1);
  grid->addWidget(cancel, 1, 2);
}

void InstalledDialog::Confirm() {
  const int index = list_->currentIndex();
  if (index < 0 || index >= static_cast<int>(offered_.size())) return;
  const std::u16string& key = offered_[index].second;
  Result<InstalledTable> table = ReadInstalledTable(copies_, key, temp_);
  if (!table.IsOk()) {
    services_.ShowMessage(this, QStringLiteral("无法读取所选输入法的主码表。"), kPrompt,
                          UiServices::Icon::kError,
                          QString::fromStdString(table.status().message()));
    return;
  }
  if (mode_ == Mode::kOpen) {
    chosen_ = std::move(table).value();
    accept();
    return;
  }
  QString picked = services_.PickSaveFile(this, QStringLiteral("导出为文本文件"));
  if (picked.isEmpty()) {
    reject();
    return;
  }
  if (picked.size() < 4 || picked[picked.size() - 4] != u'.') picked += QStringLiteral(".txt");
  Status exported = ExportInstalledTable(copies_, key, userLibrary_->isChecked(),
                                         PathFromUtf16(picked.toStdU16String()), temp_);
  if (!exported.IsOk()) {
    services_.ShowMessage(this, QStringLiteral("转换失败,可能保存文件发生错误。"), kPrompt,
                          UiServices::Icon::kError, QString::fromStdString(exported.message()));
    return;
  }
  services_.ShowMessage(this, QStringLiteral("转换成功"), kPrompt, UiServices::Icon::kInformation);
  accept();
}

}  // namespace mirel
