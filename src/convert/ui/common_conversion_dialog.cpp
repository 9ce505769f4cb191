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
#include <algorithm>

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
  // The Linux input methods' formats share the source group, so one source
  // is checked at a time across both.
  auto* linuxBox = new QGroupBox(QStringLiteral("Linux输入法格式"), this);
  auto* linuxGrid = new QGridLayout(linuxBox);
  int lineCount = 0, linuxCount = 0;
  for (const FileFormat* format : FileFormats()) {
    const int id = static_cast<int>(sources_.size());
    const bool line = format->lineFormat().has_value();
    const int k = line ? lineCount++ : linuxCount++;
    QWidget* box = line ? static_cast<QWidget*>(formatBox) : linuxBox;
    auto* source = new QRadioButton(FromUtf16(format->label()), box);
    source->setEnabled(false);
    group->addButton(source, id);
    auto* target = new QPushButton(QStringLiteral("转") + FromUtf16(format->label()),
                                   line ? static_cast<QWidget*>(this) : linuxBox);
    if (!format->writable()) target->hide();
    if (line) {
      formatGrid->addWidget(source, k / 3, k % 3);
      targetGrid->addWidget(target, k / 3, k % 3);
    } else {
      linuxGrid->addWidget(source, k / 3, k % 3);
      linuxGrid->addWidget(target, 2 + k / 3, k % 3);
    }
    connect(source, &QRadioButton::clicked, this, [this, format] { SelectSource(format); });
    connect(target, &QPushButton::clicked, this, [this, format] { Convert(*format); });
    sources_.push_back(source);
    targets_.push_back(target);
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

size_t CommonConversionDialog::Index(const FileFormat& format) {
  const std::span<const FileFormat* const> all = FileFormats();
  return static_cast<size_t>(std::find(all.begin(), all.end(), &format) - all.begin());
}

void CommonConversionDialog::SelectSource(const FileFormat* format) {
  // The button group is exclusive; unchecking all needs it off for a moment.
  QButtonGroup* group = sources_[0]->group();
  if (group) group->setExclusive(false);
  for (size_t k = 0; k < sources_.size(); ++k) {
    const bool chosen = format != nullptr && Index(*format) == k;
    sources_[k]->setEnabled(true);
    sources_[k]->setChecked(chosen);
    targets_[k]->setEnabled(format != nullptr && !chosen);
  }
  if (group) group->setExclusive(true);
}

const FileFormat* CommonConversionDialog::CheckedSource() const {
  for (size_t k = 0; k < sources_.size(); ++k) {
    if (sources_[k]->isChecked()) return FileFormats()[k];
  }
  return nullptr;
}

void CommonConversionDialog::Convert(const FileFormat& target) {
  const std::filesystem::path source = PathFromUtf16(path_->text().toStdU16String());
  const FileFormat* from = CheckedSource();
  // Between two line formats the dialog speaks as it always has.
  const bool lines = target.lineFormat() && (from == nullptr || from->lineFormat());
  const std::filesystem::path output =
      from ? ConversionOutputPath(source, *from, target) : std::filesystem::path();
  Result<ConversionReport> report = Status::InvalidArgument(
      "", lines ? std::string("没有选定源码表的格式") : std::string("no source format is chosen"));
  bool cancelled = false;
  if (from && !output.empty()) {
    // Rows the target cannot hold are shown before anything is written.
    const ConfirmDrops confirm = [&](const SaveCheck& drops) {
      const bool go = services_.ConfirmChanges(
          this, kCaption,
          QStringLiteral("有%1行无法以目标格式表达，转换后不会写入%2；下面列出前%3行。")
              .arg(drops.rowsDropped)
              .arg(FromUtf16(PathToUtf16(output)))
              .arg(drops.findings.size()),
          SaveCheckItems(drops), QStringLiteral("转换"), QStringLiteral("取消"));
      cancelled = !go;
      return go;
    };
    // The text read when the file was chosen, unless it was read as a
    // Linux table.
    report = ConvertFile(fs_, source, *from, target, output, temp_, confirm,
                         text_.empty() ? nullptr : &text_);
  } else if (from) {
    report = Status::InvalidArgument(
        path_->text().toStdString(),
        lines ? std::string("文件名没有扩展名") : std::string("the file name has no extension"));
  }
  if (cancelled) return;
  if (!report.IsOk() || report->rows == 0) {
    services_.ShowMessage(
        this, QStringLiteral("未能依据选定格式转换码表，请确定您的源码表格式后执行转换。"),
        kCaption, UiServices::Icon::kError,
        report.IsOk() ? QString() : QString::fromStdString(report.status().message()));
    return;
  }
  QString message;
  if (lines) {
    // The count's line, then the file it went to, then the question.
    message = FromUtf16(FormatText(InfoOf(*target.lineFormat()).successMessage,
                                   {static_cast<long long>(report->rows)}));
    const qsizetype question = message.indexOf(QStringLiteral("\r\n"));
    message.insert(question < 0 ? message.size() : question, WrittenTo(output));
  } else {
    message = QStringLiteral("成功转换，转换条数：%1。").arg(report->rows) + WrittenTo(output);
    if (!report->diagnostics.empty()) {
      QString detail;
      for (const linux_table::Diagnostic& d : report->diagnostics) {
        detail += QStringLiteral("第%1行：%2\n").arg(d.line).arg(QString::fromStdString(d.message));
      }
      message += QStringLiteral("\r\n有%1行无法以目标格式表达，未写入（见详细信息）。")
                     .arg(report->diagnostics.size());
      services_.ShowMessage(this, message, kCaption, UiServices::Icon::kInformation, detail);
      return;
    }
    message += QStringLiteral("\r\n是否现在查看转换文件？");
  }
  if (services_.AskYesNo(this, message, kCaption)) {
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
      SelectSource(&FormatOf(*linux));
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
  SelectSource(detection.format ? &FormatOf(*detection.format) : nullptr);
}

void CommonConversionDialog::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CommonConversionDialog::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (!urls.isEmpty() && urls.first().isLocalFile()) ChooseSource(urls.first().toLocalFile());
}

}  // namespace mirel
