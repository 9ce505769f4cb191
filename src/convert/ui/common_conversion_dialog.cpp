#include "convert/ui/common_conversion_dialog.h"

#include <QButtonGroup>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/paths.h"
#include "platform/utf16.h"
#include "store/text_file.h"

namespace mirel {
namespace {

const QString kCaption = QStringLiteral("Mirel码表管理工具");

QString FromUtf16(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CommonConversionDialog::CommonConversionDialog(QWidget* parent, UiServices& services,
                                               FileSystem& fs, const TempFolder& temp)
    : QDialog(parent), services_(services), fs_(fs), temp_(temp) {
  setObjectName(QStringLiteral("commonConversionDialog"));
  setWindowTitle(QStringLiteral("常见码表格式互转"));
  setAcceptDrops(true);
  path_ = new QLineEdit(QStringLiteral("请选择源码表文件..."), this);
  path_->setReadOnly(true);
  path_->setObjectName(QStringLiteral("path"));
  auto* browse = new QPushButton(QStringLiteral("浏览(&B)"), this);
  auto* formatBox = new QGroupBox(QStringLiteral("源码表格式"), this);
  auto* formatGrid = new QGridLayout(formatBox);
  auto* group = new QButtonGroup(this);
  auto* targetGrid = new QGridLayout;
  for (const FormatInfo& info : TableFormats()) {
    const int k = Index(info.format);
    sources_[k] = new QRadioButton(FromUtf16(info.radioText), formatBox);
    sources_[k]->setEnabled(false);
    group->addButton(sources_[k], k);
    formatGrid->addWidget(sources_[k], k / 3, k % 3);
    targets_[k] = new QPushButton(FromUtf16(info.targetText), this);
    targetGrid->addWidget(targets_[k], k / 3, k % 3);
    const TableFormat format = info.format;
    connect(sources_[k], &QRadioButton::clicked, this, [this, format] { SelectSource(format); });
    connect(targets_[k], &QPushButton::clicked, this, [this, format] { Convert(format); });
  }
  auto* sourceRow = new QHBoxLayout;
  sourceRow->addWidget(new QLabel(QStringLiteral("源码表："), this));
  sourceRow->addWidget(path_, 1);
  sourceRow->addWidget(browse);
  auto* column = new QVBoxLayout(this);
  column->addLayout(sourceRow);
  column->addWidget(formatBox);
  column->addLayout(targetGrid);

  connect(browse, &QPushButton::clicked, this, [this] {
    ChooseSource(services_.PickOpenFile(this, QStringLiteral("选择源文本码表文件:")));
  });
  auto* exitKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_X), this);
  connect(exitKey, &QShortcut::activated, this, &QDialog::reject);
}

void CommonConversionDialog::SelectSource(std::optional<TableFormat> format) {
  for (int k = 0; k < 6; ++k) {
    sources_[k]->setEnabled(true);
    sources_[k]->setChecked(format && Index(*format) == k);
    targets_[k]->setEnabled(format.has_value() && Index(*format) != k);
  }
}

void CommonConversionDialog::ChooseSource(const QString& path) {
  if (path.isEmpty() || !QFileInfo(path).isFile()) return;
  path_->setText(path);
  text_.clear();
  Result<TextBuffer> read = ReadTextFile(fs_, PathFromUtf16(path.toStdU16String()));
  if (!read.IsOk()) {
    services_.ShowMessage(this, QStringLiteral("无法读取源码表文件。"), kCaption,
                          UiServices::Icon::kError,
                          QString::fromStdString(read.status().message()));
    return;
  }
  text_ = std::move(read->text);
  const Detection detection = DetectFormat(text_);
  if (!detection.format) {
    services_.ShowMessage(
        this,
        QStringLiteral("应用程序无法正确识别您的原始码表格式，请于“源码表格式”中选择，如未列出，请"
                       "使用本工具的“高级码表格式转换”执行转换。"),
        kCaption, UiServices::Icon::kError);
  }
  SelectSource(detection.format);
}

void CommonConversionDialog::Convert(TableFormat target) {
  std::optional<TableFormat> from;
  for (int k = 0; k < 6; ++k) {
    if (sources_[k]->isChecked()) from = static_cast<TableFormat>(k + 1);
  }
  const std::filesystem::path sourcePath = PathFromUtf16(path_->text().toStdU16String());
  const std::filesystem::path output = CommonConversionOutputPath(sourcePath, target);
  Result<uint64_t> count = Status::InvalidArgument("", "no source format is chosen");
  if (from && !output.empty()) {
    count = ConvertCommonFormat(fs_, text_, *from, target, output, temp_, sourcePath);
  } else if (from) {
    count = Status::InvalidArgument(path_->text().toStdString(), "the file name has no extension");
  }
  if (!count.IsOk() || count.value() == 0) {
    services_.ShowMessage(
        this, QStringLiteral("未能依据选定格式转换码表，请确定您的源码表格式后执行转换。"),
        kCaption, UiServices::Icon::kError,
        count.IsOk() ? QString() : QString::fromStdString(count.status().message()));
    return;
  }
  const std::u16string message =
      FormatText(InfoOf(target).successMessage, {static_cast<long long>(count.value())});
  if (services_.AskYesNo(this, FromUtf16(message), kCaption)) {
    services_.OpenWithShell(QUrl::fromLocalFile(FromUtf16(PathToUtf16(output))));
  }
}

void CommonConversionDialog::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CommonConversionDialog::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (!urls.isEmpty() && urls.first().isLocalFile()) ChooseSource(urls.first().toLocalFile());
}

}  // namespace mirel
