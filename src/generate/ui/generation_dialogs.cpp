#include "generate/ui/generation_dialogs.h"

#include <QCheckBox>
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
#include <memory>

#include "platform/paths.h"

namespace mirel {
namespace {

const QString kErrorCaption = QStringLiteral("生成错误");

QString FromUtf16(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// The box shows LF line ends; the settings texts use CR LF.
std::u16string BoxText(const QPlainTextEdit* box) {
  return box->toPlainText().replace(u'\n', QStringLiteral("\r\n")).toStdU16String();
}

QString PathText(const std::filesystem::path& path) { return FromUtf16(PathToUtf16(path)); }

// What a run wrote and what failed, each with its file, before the question
// whether to look: a title-bar count alone is easily missed.
QString Outcome(const QString& where, uint64_t written, const std::filesystem::path& output,
                uint64_t errors, const std::filesystem::path& errorLog) {
  QString text = where + QStringLiteral("\r\n已写入 %1 行：%2").arg(written).arg(PathText(output));
  if (errors > 0) {
    text += QStringLiteral("\r\n%1 条错误记录于：%2").arg(errors).arg(PathText(errorLog));
  }
  return text + QStringLiteral("\r\n是否立即查看该文件？");
}

// The caption: the original one when nothing failed, else the count.
QString OutcomeCaption(const QString& clean, uint64_t errors) {
  if (errors == 0) return clean;
  return QStringLiteral("生成完成，但有 %1 条错误，是否查看文件？").arg(errors);
}

}  // namespace

GenerationDialog::GenerationDialog(QWidget* parent, UiServices& services, FileSystem& fs,
                                   std::filesystem::path programFolder)
    : QDialog(parent), services_(services), fs_(fs), programFolder_(std::move(programFolder)) {
  box_ = new QPlainTextEdit(this);
  box_->setObjectName(QStringLiteral("settings"));
  box_->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* exitKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_X), this);
  connect(exitKey, &QShortcut::activated, this, &GenerationDialog::reject);
}

GenerationDialog::~GenerationDialog() {
  cancel_ = true;
  if (worker_.joinable()) worker_.join();
}

void GenerationDialog::LayOut(std::initializer_list<QPushButton*> browse, QLayout* extra) {
  auto* group = new QGroupBox(QStringLiteral("规则定义"), this);
  auto* inner = new QVBoxLayout(group);
  inner->addWidget(box_, 1);
  inner->addWidget(new QLabel(QStringLiteral("单击以下按钮选择文件位置："), group));
  auto* browseRow = new QHBoxLayout;
  for (QPushButton* button : browse) browseRow->addWidget(button);
  inner->addLayout(browseRow);
  if (extra) inner->addLayout(extra);
  auto* start = new QPushButton(QStringLiteral("生 成(&M)"), this);
  start->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("取 消(&C)"), this);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(start);
  row->addWidget(cancel);
  auto* column = new QVBoxLayout(this);
  column->addWidget(group, 1);
  column->addLayout(row);
  connect(start, &QPushButton::clicked, this, &GenerationDialog::Start);
  connect(cancel, &QPushButton::clicked, this, &GenerationDialog::reject);
}

void GenerationDialog::reject() {
  if (!running_) QDialog::reject();
}

std::filesystem::path GenerationDialog::Resolve(const std::u16string& path) const {
  if (path.empty() || path.front() == u'/') return PathFromUtf16(path);
  return programFolder_ / PathFromUtf16(path);
}

void GenerationDialog::Pick(const QString& title, std::u16string& into) {
  const QString picked = services_.PickOpenFile(this, title);
  if (!picked.isEmpty() && QFileInfo(picked).isFile()) into = picked.toStdU16String();
}

void GenerationDialog::Finish(const Status& status, const QString& question, const QString& caption,
                              const std::filesystem::path& output) {
  if (!status.IsOk()) {
    services_.ShowMessage(this, QString::fromStdString(status.message()), kErrorCaption,
                          UiServices::Icon::kError);
    return;
  }
  if (services_.AskYesNo(this, question, caption)) {
    services_.OpenWithShell(QUrl::fromLocalFile(FromUtf16(PathToUtf16(output))));
  }
}

void GenerationDialog::RunInBackground(
    std::function<std::function<void()>(const GenerationProgress&, const std::atomic<bool>*)>
        work) {
  if (running_) return;
  running_ = true;
  setEnabled(false);
  if (worker_.joinable()) worker_.join();
  cancel_ = false;
  worker_ = std::jthread([this, work = std::move(work)] {
    // The engine paces its progress; each caption is handed to the dialog's thread.
    GenerationProgress progress = [this](std::u16string_view caption) {
      QMetaObject::invokeMethod(
          this, [this, title = FromUtf16(caption)] { setWindowTitle(title); },
          Qt::QueuedConnection);
    };
    auto done = std::make_shared<std::function<void()>>(work(progress, &cancel_));
    QMetaObject::invokeMethod(
        this,
        [this, done] {
          running_ = false;
          setEnabled(true);
          (*done)();
        },
        Qt::QueuedConnection);
  });
}

SingleCharactersDialog::SingleCharactersDialog(QWidget* parent, UiServices& services,
                                               FileSystem& fs, SingleCharacterSettings& settings,
                                               std::filesystem::path programFolder)
    : GenerationDialog(parent, services, fs, std::move(programFolder)), settings_(settings) {
  setObjectName(QStringLiteral("singleCharactersDialog"));
  setWindowTitle(QStringLiteral("单字编码生成"));
  box_->setPlainText(FromUtf16(FormatSingleSettings(settings_)));
  auto* split = new QPushButton(QStringLiteral("拆分序列表(&S)"), this);
  auto* keys = new QPushButton(QStringLiteral("键盘映射表(&K)"), this);
  LayOut({split, keys}, nullptr);
  connect(split, &QPushButton::clicked, this, [this] {
    ParseBox();
    Pick(QStringLiteral("选择拆分表:"), settings_.splitTable);
    box_->setPlainText(FromUtf16(FormatSingleSettings(settings_)));
  });
  connect(keys, &QPushButton::clicked, this, [this] {
    ParseBox();
    Pick(QStringLiteral("选择键位表:"), settings_.keyMap);
    box_->setPlainText(FromUtf16(FormatSingleSettings(settings_)));
  });
  resize(520, 300);
}

void SingleCharactersDialog::ParseBox() {
  settings_ = ParseSingleSettings(BoxText(box_), settings_);
}

void SingleCharactersDialog::Start() {
  ParseBox();
  const std::filesystem::path split = Resolve(settings_.splitTable);
  const std::filesystem::path keys = Resolve(settings_.keyMap);
  RunInBackground([this, split, keys](const GenerationProgress& progress,
                                      const std::atomic<bool>* cancel) -> std::function<void()> {
    const std::filesystem::path output = SingleOutputPath(split);
    const std::filesystem::path errors = SingleErrorPath(split);
    auto result = std::make_shared<Result<SingleResult>>(
        GenerateSingleCharacters(fs_, split, keys, output, errors, progress, cancel));
    return [this, result, output, errors] {
      const SingleResult counts = result->IsOk() ? result->value() : SingleResult{};
      Finish(result->IsOk() ? Status::Ok() : result->status(),
             Outcome(
                 QStringLiteral("文件保存于单字拆分表相同目录，并以“[ 生成的单字码表 ].txt”命名。"),
                 counts.codes, output, counts.errors, errors),
             OutcomeCaption(QStringLiteral("转换完成，是否查看文件？"), counts.errors), output);
    };
  });
}

WordLibraryDialog::WordLibraryDialog(QWidget* parent, UiServices& services, FileSystem& fs,
                                     WordLibrarySettings& settings,
                                     std::filesystem::path programFolder)
    : GenerationDialog(parent, services, fs, std::move(programFolder)), settings_(settings) {
  setObjectName(QStringLiteral("wordLibraryDialog"));
  setWindowTitle(QStringLiteral("词库生成"));
  box_->setPlainText(FromUtf16(FormatWordSettings(settings_)));
  auto* chars = new QPushButton(QStringLiteral("单字码表(&D)"), this);
  auto* aux = new QPushButton(QStringLiteral("辅助码表(&F)"), this);
  auto* words = new QPushButton(QStringLiteral("词库文件(&W)"), this);
  tolerant_ = new QCheckBox(QStringLiteral("容错词条编码"), this);
  predefined_ = new QCheckBox(QStringLiteral("允许预定义编码"), this);
  tolerant_->setChecked(settings_.tolerant);
  predefined_->setChecked(settings_.predefined);
  auto* checks = new QHBoxLayout;
  checks->addWidget(tolerant_);
  checks->addWidget(predefined_);
  LayOut({chars, aux, words}, checks);
  auto browse = [this](const QString& title, std::u16string WordLibrarySettings::*field) {
    ParseBox();
    Pick(title, settings_.*field);
    box_->setPlainText(FromUtf16(FormatWordSettings(settings_)));
  };
  connect(chars, &QPushButton::clicked, this, [browse] {
    browse(QStringLiteral("选择用于生成词库的单字码表:"), &WordLibrarySettings::charTable);
  });
  connect(aux, &QPushButton::clicked, this, [browse] {
    browse(QStringLiteral("选择用于生成词库的辅助码表:"), &WordLibrarySettings::auxTable);
  });
  connect(words, &QPushButton::clicked, this, [browse] {
    browse(QStringLiteral("选择词库文件位置:"), &WordLibrarySettings::wordList);
  });
  resize(560, 420);
}

void WordLibraryDialog::ParseBox() {
  settings_ = ParseWordSettings(BoxText(box_), settings_);
  settings_.tolerant = tolerant_->isChecked();
  settings_.predefined = predefined_->isChecked();
}

void WordLibraryDialog::Start() {
  ParseBox();
  WordLibrarySettings resolved = settings_;
  for (std::u16string* path : {&resolved.charTable, &resolved.auxTable, &resolved.wordList}) {
    if (!path->empty()) *path = PathToUtf16(Resolve(*path));
  }
  RunInBackground([this, resolved](const GenerationProgress& progress,
                                   const std::atomic<bool>* cancel) -> std::function<void()> {
    const std::filesystem::path wordList = PathFromUtf16(resolved.wordList);
    const std::filesystem::path output = WordOutputPath(wordList);
    const std::filesystem::path errors = WordErrorLogPath(wordList);
    auto result = std::make_shared<Result<WordResult>>(
        GenerateWordLibrary(fs_, resolved, output, errors, progress, cancel));
    return [this, result, output, errors] {
      const uint64_t written = result->IsOk() ? result->value().written : 0;
      const uint64_t failed = result->IsOk() ? result->value().errors : 0;
      Finish(result->IsOk() ? Status::Ok() : result->status(),
             Outcome(QStringLiteral(
                         "生成结果文件保存于“词库文件”相同目录，并以“[ 生成的词库 ].txt”命名。"),
                     written, output, failed, errors),
             OutcomeCaption(QStringLiteral("生成成功，是否查看文件？"), failed), output);
    };
  });
}

}  // namespace mirel
