// The dialog of the rule-based conversion ("码表格式转换"): a source file,
// either a separator set and one of three line layouts, or rewrite rules;
// the result goes to "[ 转换结果 ].txt" beside the source. It reads and keeps
// the tool's settings, which the application owns.
#pragma once

#include <QDialog>

#include "convert/rule_conversion.h"
#include "platform/file_system.h"
#include "platform/ui/ui_services.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace mirel {

class RuleConversionDialog : public QDialog {
  Q_OBJECT

 public:
  RuleConversionDialog(QWidget* parent, UiServices& services, FileSystem& fs,
                       RuleConversionSettings& settings);

  QLineEdit* sourceEdit() const { return source_; }
  QLineEdit* separatorEdit() const { return separators_; }
  QRadioButton* layoutButton(int layout) const { return layouts_[layout - 1]; }
  QCheckBox* ruleModeBox() const { return ruleMode_; }
  QPlainTextEdit* ruleEdit() const { return rules_; }

  // "转换(&V)".
  void Run();

 private:
  void SetRuleMode(bool on);
  void Progress(std::u16string_view title);

  UiServices& services_;
  FileSystem& fs_;
  RuleConversionSettings& settings_;
  QLineEdit* source_;
  QLineEdit* separators_;
  QRadioButton* layouts_[3];
  QCheckBox* ruleMode_;
  QPlainTextEdit* rules_;
};

}  // namespace mirel
