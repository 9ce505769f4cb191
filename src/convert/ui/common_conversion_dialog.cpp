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

#include "convert/ui/linux_header_dialog.h"
#include "platform/paths.h"
#include "platform/utf16.h"
#include "store/text_file.h"

namespace mirel {
namespace {

const QString kCaption = QStringLiteral("Mirel码表管理工具");

QString FromUtf16(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// Names the file a conversion wrote, which takes its name from the source.
QString WrittenTo(const std::filesystem::path& output) {
  return QStringLiteral("\r\n已写入：") + FromUtf16(PathToUtf16(output));
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
  // The Linux input methods' formats share the source group, so one source
  // is checked at a time across both.
  auto* linuxBox = new QGroupBox(QStringLiteral("Linux输入法格式"), this);
  auto* linuxGrid = new QGridLayout(linuxBox);
  for (const linux_table::LinuxFormatInfo& info : linux_table::LinuxFormats()) {
    const int k = static_cast<int>(info.format);
    linuxSources_[k] = new QRadioButton(FromUtf16(info.label), linuxBox);
    linuxSources_[k]->setEnabled(false);
    group->addButton(linuxSources_[k], 6 + k);
    linuxGrid->addWidget(linuxSources_[k], k / 3, k % 3);
    linuxTargets_[k] = new QPushButton(QStringLiteral("转") + FromUtf16(info.label), linuxBox);
    linuxTargets_[k]->setVisible(info.writable);
    linuxGrid->addWidget(linuxTargets_[k], 2 + k / 3, k % 3);
    const linux_table::LinuxFormat format = info.format;
    connect(linuxSources_[k], &QRadioButton::clicked, this,
            [this, format] { SelectAny(AnyFormat(format)); });
    connect(linuxTargets_[k], &QPushButton::clicked, this,
            [this, format] { ConvertLinux(AnyFormat(format)); });
  }
  auto* sourceRow = new QHBoxLayout;
  sourceRow->addWidget(new QLabel(QStringLiteral("源码表："), this));
  sourceRow->addWidget(path_, 1);
  sourceRow->addWidget(browse);
  auto* column = new QVBoxLayout(this);
  column->addLayout(sourceRow);
  column->addWidget(formatBox);
  column->addLayout(targetGrid);
  column->addWidget(linuxBox);

  connect(browse, &QPushButton::clicked, this, [this] {
    ChooseSource(services_.PickTableToOpen(this, QStringLiteral("选择源码表文件:")));
  });
  auto* exitKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_X), this);
  connect(exitKey, &QShortcut::activated, this, &QDialog::reject);
}

void CommonConversionDialog::SelectSource(std::optional<TableFormat> format) {
  SelectAny(format ? std::optional<AnyFormat>(*format) : std::nullopt);
}

void CommonConversionDialog::SelectAny(std::optional<AnyFormat> format) {
  const TableFormat* common = format ? std::get_if<TableFormat>(&*format) : nullptr;
  const linux_table::LinuxFormat* linux =
      format ? std::get_if<linux_table::LinuxFormat>(&*format) : nullptr;
  // The button group is exclusive; unchecking all needs it off for a moment.
  QButtonGroup* group = sources_[0]->group();
  if (group) group->setExclusive(false);
  for (int k = 0; k < 6; ++k) {
    sources_[k]->setEnabled(true);
    sources_[k]->setChecked(common && Index(*common) == k);
    targets_[k]->setEnabled(format.has_value() && !(common && Index(*common) == k));
  }
  for (int k = 0; k < 5; ++k) {
    linuxSources_[k]->setEnabled(true);
    linuxSources_[k]->setChecked(linux && static_cast<int>(*linux) == k);
    linuxTargets_[k]->setEnabled(format.has_value() && !(linux && static_cast<int>(*linux) == k));
  }
  if (group) group->setExclusive(true);
}

std::optional<AnyFormat> CommonConversionDialog::CheckedSource() const {
  for (int k = 0; k < 6; ++k) {
    if (sources_[k]->isChecked()) return AnyFormat(static_cast<TableFormat>(k + 1));
  }
  for (int k = 0; k < 5; ++k) {
    if (linuxSources_[k]->isChecked()) return AnyFormat(static_cast<linux_table::LinuxFormat>(k));
  }
  return std::nullopt;
}

void CommonConversionDialog::ConvertLinux(AnyFormat target) {
  const std::filesystem::path source = PathFromUtf16(path_->text().toStdU16String());
  const std::optional<AnyFormat> from = CheckedSource();
  const std::filesystem::path output = AnyConversionOutputPath(source, target);
  Result<ConversionReport> report = Status::InvalidArgument("", "no source format is chosen");
  bool cancelled = false;
  if (from && !output.empty()) {
    // Rows the target cannot hold are shown before anything is written.
    report =
        ConvertAnyFormat(fs_, source, *from, target, output, temp_, [&](const SaveCheck& drops) {
          const bool go = services_.ConfirmChanges(
              this, kCaption,
              QStringLiteral("有%1行无法以目标格式表达，转换后不会写入%2；下面列出前%3行。")
                  .arg(drops.rowsDropped)
                  .arg(FromUtf16(PathToUtf16(output)))
                  .arg(drops.findings.size()),
              SaveCheckItems(drops), QStringLiteral("转换"), QStringLiteral("取消"));
          cancelled = !go;
          return go;
        });
  } else if (from) {
    report = Status::InvalidArgument(path_->text().toStdString(), "the file name has no extension");
  }
  if (cancelled) return;
  if (!report.IsOk() || report->rows == 0) {
    services_.ShowMessage(
        this, QStringLiteral("未能依据选定格式转换码表，请确定您的源码表格式后执行转换。"),
        kCaption, UiServices::Icon::kError,
        report.IsOk() ? QString() : QString::fromStdString(report.status().message()));
    return;
  }
  QString detail;
  for (const linux_table::Diagnostic& d : report->diagnostics) {
    detail += QStringLiteral("第%1行：%2\n").arg(d.line).arg(QString::fromStdString(d.message));
  }
  QString message =
      QStringLiteral("成功转换，转换条数：%1。").arg(report->rows) + WrittenTo(output);
  if (!report->diagnostics.empty()) {
    message += QStringLiteral("\r\n有%1行无法以目标格式表达，未写入（见详细信息）。")
                   .arg(report->diagnostics.size());
    services_.ShowMessage(this, message, kCaption, UiServices::Icon::kInformation, detail);
    return;
  }
  if (services_.AskYesNo(this, message + QStringLiteral("\r\n是否现在查看转换文件？"), kCaption)) {
    services_.OpenWithShell(QUrl::fromLocalFile(FromUtf16(PathToUtf16(output))));
  }
}

void CommonConversionDialog::ChooseSource(const QString& path) {
  if (path.isEmpty() || !QFileInfo(path).isFile()) return;
  path_->setText(path);
  text_.clear();
  // A table of a Linux input method is told by its header; a binary one
  // would not read as text.
  if (Result<std::string> bytes = fs_.ReadWhole(PathFromUtf16(path.toStdU16String()));
      bytes.IsOk()) {
    if (std::optional<linux_table::LinuxFormat> linux =
            linux_table::DetectLinuxFormat(bytes.value())) {
      SelectAny(AnyFormat(*linux));
      return;
    }
  }
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
  if (std::optional<AnyFormat> any = CheckedSource();
      any && std::holds_alternative<linux_table::LinuxFormat>(*any)) {
    ConvertLinux(AnyFormat(target));
    return;
  }
  std::optional<TableFormat> from;
  for (int k = 0; k < 6; ++k) {
    if (sources_[k]->isChecked()) from = static_cast<TableFormat>(k + 1);
  }
  const std::filesystem::path sourcePath = PathFromUtf16(path_->text().toStdU16String());
  const std::filesystem::path output = CommonConversionOutputPath(sourcePath, target);
  Result<uint64_t> count = Status::InvalidArgument("", "没有选定源码表的格式");
  if (from && !output.empty()) {
    count = ConvertCommonFormat(fs_, text_, *from, target, output, temp_, sourcePath);
  } else if (from) {
    count = Status::InvalidArgument(path_->text().toStdString(), "文件名没有扩展名");
  }
  if (!count.IsOk() || count.value() == 0) {
    services_.ShowMessage(
        this, QStringLiteral("未能依据选定格式转换码表，请确定您的源码表格式后执行转换。"),
        kCaption, UiServices::Icon::kError,
        count.IsOk() ? QString() : QString::fromStdString(count.status().message()));
    return;
  }
  // The count's line, then the file it went to, then the question.
  QString message =
      FromUtf16(FormatText(InfoOf(target).successMessage, {static_cast<long long>(count.value())}));
  const qsizetype question = message.indexOf(QStringLiteral("\r\n"));
  message.insert(question < 0 ? message.size() : question, WrittenTo(output));
  if (services_.AskYesNo(this, message, kCaption)) {
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
