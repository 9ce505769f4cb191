// The dialogs of the two generators ("单字编码生成" and "词库生成"): a settings
// box with browse buttons, and a run on a worker thread while the dialog is
// disabled, its title showing the engine's progress. The settings are the
// application's; the dialogs read and write them.
#pragma once

#include <QDialog>
#include <atomic>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <thread>

#include "generate/single_characters.h"
#include "generate/word_library.h"
#include "platform/file_system.h"
#include "platform/ui/ui_services.h"

class QCheckBox;
class QLayout;
class QPushButton;
class QPlainTextEdit;

namespace mirel {

// The worker-thread run shared by both dialogs.
class GenerationDialog : public QDialog {
  Q_OBJECT

 public:
  GenerationDialog(QWidget* parent, UiServices& services, FileSystem& fs,
                   std::filesystem::path programFolder);
  ~GenerationDialog() override;

  QPlainTextEdit* settingsBox() const { return box_; }
  bool running() const { return running_; }
  void reject() override;

  // "生 成(&M)".
  virtual void Start() = 0;

 protected:
  // Runs `work` on a worker thread; `done` runs on this dialog's thread with
  // its result. `work` gets the progress callback and the cancel flag.
  void RunInBackground(
      std::function<std::function<void()>(const GenerationProgress&, const std::atomic<bool>*)>
          work);
  // The settings box with its browse buttons (and `extra` below them) in a
  // group, then "生 成" and "取 消".
  void LayOut(std::initializer_list<QPushButton*> browse, QLayout* extra);
  std::filesystem::path Resolve(const std::u16string& path) const;
  void Pick(const QString& title, std::u16string& into);
  // Shows the end of a run: its failure, or the question whether to open
  // the output.
  void Finish(const Status& status, const QString& question, const QString& caption,
              const std::filesystem::path& output);

  UiServices& services_;
  FileSystem& fs_;
  std::filesystem::path programFolder_;
  QPlainTextEdit* box_;

 private:
  std::atomic<bool> cancel_{false};
  bool running_ = false;
  std::jthread worker_;
};

class SingleCharactersDialog : public GenerationDialog {
  Q_OBJECT

 public:
  SingleCharactersDialog(QWidget* parent, UiServices& services, FileSystem& fs,
                         SingleCharacterSettings& settings, std::filesystem::path programFolder);
  void Start() override;

 private:
  void ParseBox();
  SingleCharacterSettings& settings_;
};

class WordLibraryDialog : public GenerationDialog {
  Q_OBJECT

 public:
  WordLibraryDialog(QWidget* parent, UiServices& services, FileSystem& fs,
                    WordLibrarySettings& settings, std::filesystem::path programFolder);
  QCheckBox* tolerantBox() const { return tolerant_; }
  QCheckBox* predefinedBox() const { return predefined_; }
  void Start() override;

 private:
  void ParseBox();
  WordLibrarySettings& settings_;
  QCheckBox* tolerant_;
  QCheckBox* predefined_;
};

}  // namespace mirel
