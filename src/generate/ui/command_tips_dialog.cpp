#include "generate/ui/command_tips_dialog.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QUrl>

#include "platform/paths.h"

namespace mirel {
namespace {

constexpr int kFieldLimit = 259;

QLineEdit* NewField(QWidget* parent, const QString& name) {
  auto* edit = new QLineEdit(parent);
  edit->setMaxLength(kFieldLimit);
  edit->setObjectName(name);
  return edit;
}

}  // namespace

CommandTipsDialog::CommandTipsDialog(QWidget* parent, UiServices& services, FileSystem& fs,
                                     const TempFolder& temp)
    : QDialog(parent), services_(services), fs_(fs), temp_(temp) {
  setObjectName(QStringLiteral("commandTipsDialog"));
  setWindowTitle(QStringLiteral("Mirel编码提示码表生成工具"));
  contentTable_ = NewField(this, QStringLiteral("contentTable"));
  codeTable_ = NewField(this, QStringLiteral("codeTable"));
  prefix_ = NewField(this, QStringLiteral("prefix"));
  suffix_ = NewField(this, QStringLiteral("suffix"));
  auto* browseContent = new QPushButton(QStringLiteral("浏览(&B)"), this);
  auto* browseCode = new QPushButton(QStringLiteral("浏览(&R)"), this);
  auto* generate = new QPushButton(QStringLiteral("生成"), this);
  generate->setDefault(true);
  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel(QStringLiteral("提示内容表："), this), 0, 0);
  grid->addWidget(contentTable_, 0, 1);
  grid->addWidget(browseContent, 0, 2);
  grid->addWidget(new QLabel(QStringLiteral("提示编码表："), this), 1, 0);
  grid->addWidget(codeTable_, 1, 1);
  grid->addWidget(browseCode, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("最终编码前缀："), this), 2, 0);
  grid->addWidget(prefix_, 2, 1);
  grid->addWidget(new QLabel(QStringLiteral("最终编码后缀："), this), 3, 0);
  grid->addWidget(suffix_, 3, 1);
  grid->addWidget(
      new QLabel(QStringLiteral("最终编码 = 前缀     +     提示编码     +     后缀"), this), 4, 0,
      1, 3);
  grid->addWidget(
      new QLabel(QStringLiteral("生成结果 = 最终编码     +     Tab     +     提示内容"), this), 5,
      0, 1, 3);
  grid->addWidget(generate, 6, 2);
  auto pick = [this](QLineEdit* into, const QString& title) {
    const QString picked = services_.PickOpenFile(this, title);
    if (!picked.isEmpty() && QFileInfo(picked).isFile()) into->setText(picked);
  };
  connect(browseContent, &QPushButton::clicked, this,
          [this, pick] { pick(contentTable_, QStringLiteral("请选择提示内容表")); });
  connect(browseCode, &QPushButton::clicked, this,
          [this, pick] { pick(codeTable_, QStringLiteral("请选择提示编码表")); });
  connect(generate, &QPushButton::clicked, this, &CommandTipsDialog::Generate);
  auto* exitKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_X), this);
  connect(exitKey, &QShortcut::activated, this, &QDialog::reject);
}

void CommandTipsDialog::Generate() {
  const std::filesystem::path output = temp_.TempPath(kTipsOutputName);
  TipSettings settings{codeTable_->text().toStdU16String(), contentTable_->text().toStdU16String(),
                       prefix_->text().toStdU16String(), suffix_->text().toStdU16String()};
  Result<GenerationReport> written = BuildCommandTips(fs_, settings, output);
  if (written.IsOk() && written->lines > 0) {
    if (!written->leftOut.empty()) {
      services_.ShowMessage(this, QStringLiteral("提示编码表或提示内容表中有些行未被使用。"),
                            QStringLiteral("生成提示码表"), UiServices::Icon::kInformation,
                            QString::fromStdString(DescribeLeftOut(written->leftOut)));
    }
    services_.OpenWithShell(QUrl::fromLocalFile(QString::fromStdU16String(PathToUtf16(output))));
    return;
  }
  const Status failure = written.IsOk()
                             ? Status::InvalidArgument("", std::string(kTipNothingWrittenMessage))
                             : written.status();
  services_.ShowMessage(this, QString::fromStdString(failure.message()), QStringLiteral("生成错误"),
                        UiServices::Icon::kError);
  QLineEdit* focus = nullptr;
  switch (TipFieldToFocus(failure)) {
    case TipField::kCodeTable:
      focus = codeTable_;
      break;
    case TipField::kContentTable:
      focus = contentTable_;
      break;
    case TipField::kNone:
      break;
  }
  if (focus) {
    focus->setFocus();
    focus->selectAll();
  }
}

}  // namespace mirel
