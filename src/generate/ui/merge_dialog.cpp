#include "generate/ui/merge_dialog.h"

#include <QApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/paths.h"

namespace mirel {
namespace {

QString FromUtf16(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

MergeDialog::MergeDialog(QWidget* parent, UiServices& services, FileSystem& fs,
                         MergeSettings& settings, std::filesystem::path programFolder)
    : QDialog(parent),
      services_(services),
      fs_(fs),
      settings_(settings),
      programFolder_(std::move(programFolder)) {
  setObjectName(QStringLiteral("mergeDialog"));
  setWindowTitle(QStringLiteral("码表合并"));
  auto* group = new QGroupBox(QStringLiteral("规则定义"), this);
  box_ = new QPlainTextEdit(FromUtf16(FormatMergeSettings(settings)), group);
  box_->setObjectName(QStringLiteral("settings"));
  box_->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* buttons = new QGridLayout;
  for (int k = 0; k < 6; ++k) {
    auto* browse = new QPushButton(QStringLiteral("码表%1(&%1)").arg(k + 1), group);
    buttons->addWidget(browse, k / 3, k % 3);
    connect(browse, &QPushButton::clicked, this, [this, k] { Browse(k); });
  }
  auto* inner = new QVBoxLayout(group);
  inner->addWidget(box_, 1);
  inner->addWidget(new QLabel(QStringLiteral("单击以下按钮选择文件位置："), group));
  inner->addLayout(buttons);
  auto* merge = new QPushButton(QStringLiteral("合并(&M)"), this);
  merge->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("取 消(&C)"), this);
  connect(merge, &QPushButton::clicked, this, &MergeDialog::Merge);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(merge);
  row->addWidget(cancel);
  auto* column = new QVBoxLayout(this);
  column->addWidget(group, 1);
  column->addLayout(row);
  auto* exitKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_X), this);
  connect(exitKey, &QShortcut::activated, this, &QDialog::reject);
  resize(560, 360);
}

void MergeDialog::ParseBox() {
  settings_ = ParseMergeSettings(
      box_->toPlainText().replace(u'\n', QStringLiteral("\r\n")).toStdU16String());
}

void MergeDialog::Browse(int k) {
  ParseBox();
  const QString picked = services_.PickOpenFile(this, QStringLiteral("选择待合并的码表:"));
  if (!picked.isEmpty() && QFileInfo(picked).isFile())
    settings_.tables[k] = picked.toStdU16String();
  box_->setPlainText(FromUtf16(FormatMergeSettings(settings_)));
}

void MergeDialog::Merge() {
  ParseBox();
  box_->setPlainText(FromUtf16(FormatMergeSettings(settings_)));
  MergeSettings resolved = settings_;
  for (std::u16string& path : resolved.tables) {
    if (!path.empty() && path.front() != u'/')
      path = PathToUtf16(programFolder_ / PathFromUtf16(path));
  }
  const std::filesystem::path first = PathFromUtf16(resolved.tables[0]);
  if (resolved.tables[0].empty() || !QFileInfo(FromUtf16(resolved.tables[0])).isFile()) {
    services_.ShowMessage(this, QStringLiteral("必须指定用于合并的第一码表。"),
                          QStringLiteral("合并错误"), UiServices::Icon::kError);
    return;
  }
  const std::filesystem::path output = MergeOutputPath(first);
  Result<GenerationReport> merged =
      MergeTables(fs_, resolved, output, [this](std::u16string_view caption) {
        setWindowTitle(FromUtf16(caption));
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
      });
  if (!merged.IsOk()) {
    services_.ShowMessage(this, QStringLiteral("码表合并失败。"), QStringLiteral("合并错误"),
                          UiServices::Icon::kError,
                          QString::fromStdString(merged.status().message()));
    return;
  }
  if (!merged->leftOut.empty()) {
    services_.ShowMessage(this, QStringLiteral("码表中有些行未参与合并。"),
                          QStringLiteral("码表合并"), UiServices::Icon::kInformation,
                          QString::fromStdString(DescribeLeftOut(merged->leftOut)));
  }
  if (services_.AskYesNo(this,
                         QStringLiteral("码表合并完成，合并后的文件保存于“码表1”相同目录，以“[ "
                                        "码表合并结果 ].txt”命名。\r\n是否立即查看该文件？"),
                         QStringLiteral("合并成功，是否查看文件？"))) {
    services_.OpenWithShell(QUrl::fromLocalFile(FromUtf16(PathToUtf16(output))));
  }
}

}  // namespace mirel
