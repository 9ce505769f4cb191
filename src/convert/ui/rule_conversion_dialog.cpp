#include "convert/ui/rule_conversion_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
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

RuleConversionDialog::RuleConversionDialog(QWidget* parent, UiServices& services, FileSystem& fs,
                                           RuleConversionSettings& settings)
    : QDialog(parent), services_(services), fs_(fs), settings_(settings) {
  setObjectName(QStringLiteral("ruleConversionDialog"));
  setWindowTitle(QStringLiteral("码表格式转换"));
  source_ = new QLineEdit(FromUtf16(settings.sourcePath), this);
  source_->setObjectName(QStringLiteral("source"));
  auto* browse = new QPushButton(QStringLiteral("浏览(&B)"), this);
  separators_ = new QLineEdit(FromUtf16(settings.separatorText), this);
  separators_->setObjectName(QStringLiteral("separators"));
  layouts_[0] = new QRadioButton(QStringLiteral("单行单义(左编码)(&A)"), this);
  layouts_[1] = new QRadioButton(QStringLiteral("单行多义(左编码)(&M)"), this);
  layouts_[2] = new QRadioButton(QStringLiteral("单行多义(左词条)(&E)"), this);
  ruleMode_ =
      new QCheckBox(QStringLiteral("依据转换表达式转换文本文件，在下框中定义表达式："), this);
  rules_ = new QPlainTextEdit(this);
  rules_->setObjectName(QStringLiteral("rules"));
  rules_->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* run = new QPushButton(QStringLiteral("转换(&V)"), this);
  run->setDefault(true);
  auto* close = new QPushButton(QStringLiteral("取消(&C)"), this);

  auto* sourceBox = new QGroupBox(QStringLiteral("待转换的码表文件(&F)："), this);
  auto* sourceRow = new QHBoxLayout(sourceBox);
  sourceRow->addWidget(source_, 1);
  sourceRow->addWidget(browse);
  auto* layoutBox = new QGroupBox(QStringLiteral("特定格式转换Mirel码表"), this);
  auto* layoutGrid = new QGridLayout(layoutBox);
  auto* separatorLabel = new QLabel(QStringLiteral("分隔符(&G)："), layoutBox);
  separatorLabel->setBuddy(separators_);
  layoutGrid->addWidget(separatorLabel, 0, 0);
  layoutGrid->addWidget(separators_, 0, 1, 1, 2);
  for (int k = 0; k < 3; ++k) layoutGrid->addWidget(layouts_[k], 1, k);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(run);
  buttons->addWidget(close);
  auto* column = new QVBoxLayout(this);
  column->addWidget(sourceBox);
  column->addWidget(layoutBox);
  column->addWidget(ruleMode_);
  column->addWidget(rules_, 1);
  column->addLayout(buttons);

  const Layout layout = LayoutFromOption(settings.layoutOption);
  layouts_[static_cast<int>(layout) - 1]->setChecked(true);
  rules_->setPlainText(FromUtf16(settings.ruleText));
  ruleMode_->setChecked(!settings.ruleText.empty());
  SetRuleMode(!settings.ruleText.empty());

  connect(ruleMode_, &QCheckBox::toggled, this, &RuleConversionDialog::SetRuleMode);
  connect(run, &QPushButton::clicked, this, &RuleConversionDialog::Run);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString picked = services_.PickOpenFile(this, QStringLiteral("选择码表文件:"));
    if (!picked.isEmpty() && QFileInfo(picked).isFile()) source_->setText(picked);
  });
  auto* exitKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_X), this);
  connect(exitKey, &QShortcut::activated, this, &QDialog::reject);
  resize(560, 420);
}

void RuleConversionDialog::SetRuleMode(bool on) {
  separators_->setEnabled(!on);
  for (QRadioButton* button : layouts_) button->setEnabled(!on);
  rules_->setEnabled(on);
}

void RuleConversionDialog::Progress(std::u16string_view title) {
  setWindowTitle(FromUtf16(title));
  // Keep the dialog painting while a long conversion runs.
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void RuleConversionDialog::Run() {
  const QString source = source_->text().left(259);
  // The settings follow the dialog, so the next opening shows the same.
  settings_.sourcePath = source.toStdU16String();
  settings_.separatorText = separators_->text().toStdU16String();
  settings_.ruleText =
      ruleMode_->isChecked()
          ? rules_->toPlainText().left(static_cast<qsizetype>(kRuleTextLimit)).toStdU16String()
          : std::u16string();
  int layout = 1;
  for (int k = 0; k < 3; ++k) {
    if (layouts_[k]->isChecked()) layout = k + 1;
  }
  settings_.layoutOption = LayoutOptionText(static_cast<Layout>(layout));
  if (source.isEmpty() || !QFileInfo(source).isFile()) {
    services_.ShowMessage(this, QStringLiteral("必须定义有效的源码表文件路径"),
                          QStringLiteral("码表格式转换错误"), UiServices::Icon::kError);
    return;
  }
  const std::filesystem::path sourcePath = PathFromUtf16(source.toStdU16String());
  const std::filesystem::path output = ConversionOutputPath(sourcePath);
  auto progress = [this](std::u16string_view title) { Progress(title); };
  if (ruleMode_->isChecked()) {
    // Rules may hold a line break the box shows as one; the engine reads CR and LF alike.
    Result<uint64_t> done =
        RunRuleConversion(fs_, sourcePath, settings_.ruleText, output, progress);
    if (!done.IsOk()) {
      services_.ShowMessage(this, QStringLiteral("无法根据转换规则转换文本文件。"),
                            QStringLiteral("转换失败"), UiServices::Icon::kError,
                            QString::fromStdString(done.status().message()));
      return;
    }
  } else {
    Result<uint64_t> done =
        RunLayoutConversion(fs_, sourcePath, separators_->text().left(127).toStdU16String(),
                            static_cast<Layout>(layout), output, progress);
    if (!done.IsOk()) {
      services_.ShowMessage(this, QStringLiteral("无法转换文本文件。"), QStringLiteral("转换失败"),
                            UiServices::Icon::kError,
                            QString::fromStdString(done.status().message()));
      return;
    }
  }
  if (services_.AskYesNo(
          this,
          QStringLiteral("文件保存于原文件相同目录，并以“[ 转换结果 ].txt”命名。\r\n已写入：") +
              FromUtf16(PathToUtf16(output)) + QStringLiteral("\r\n是否立即查看该文件？"),
          QStringLiteral("转换完成，是否查看文件？"))) {
    services_.OpenWithShell(QUrl::fromLocalFile(FromUtf16(PathToUtf16(output))));
  }
}

}  // namespace mirel
