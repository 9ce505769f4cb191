// Answers the editor's prompts and file pickers from scripts, and records
// every message, clipboard text and opened address.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>

#include "platform/ui/ui_services.h"

namespace mirel::test {

class FakeUiServices : public UiServices {
 public:
  bool AskYesNo(QWidget*, const QString& text, const QString& caption) override {
    questions << caption + u'|' + text;
    return Next(yesNo, false);
  }
  Answer AskYesNoCancel(QWidget*, const QString& text, const QString& caption) override {
    questions << caption + u'|' + text;
    return Next(yesNoCancel, Answer::kCancel);
  }
  bool AskRetry(QWidget*, const QString& text, const QString& caption) override {
    questions << caption + u'|' + text;
    return Next(retry, false);
  }
  void ShowMessage(QWidget*, const QString& text, const QString& caption, Icon,
                   const QString&) override {
    messages << caption + u'|' + text;
  }
  bool ConfirmChanges(QWidget*, const QString& caption, const QString& text,
                      const QStringList& items, const QString& proceed,
                      const QString& back) override {
    questions << caption + u'|' + text;
    changes << items;
    changeButtons << proceed + u'/' + back;
    return Next(confirm, false);
  }
  QString PickOpenFile(QWidget*, const QString& title) override {
    pickerTitles << title;
    return Next(openPicks, QString());
  }
  QString PickSaveFile(QWidget*, const QString& title, const QString& suggested = {}) override {
    pickerTitles << title;
    suggestedNames << suggested;
    return Next(savePicks, QString());
  }
  QString PickTableToOpen(QWidget*, const QString& title) override {
    pickerTitles << title;
    tablePickerTitles << title;
    return Next(openPicks, QString());
  }
  void SetClipboardText(const QString& text) override { clipboard = text; }
  bool OpenWithShell(const QUrl& url) override {
    opened << url.toString();
    return shellWorks;
  }

  std::deque<bool> yesNo, retry, confirm;
  // Unanswered questions are cancelled: a test that forgets an answer
  // changes nothing.
  std::deque<Answer> yesNoCancel;
  std::deque<QString> openPicks, savePicks;
  QStringList questions, messages, pickerTitles, opened;
  // What each save picker offered as the file name.
  QStringList suggestedNames;
  // The lists ConfirmChanges showed, one after another, and its buttons.
  QList<QStringList> changes;
  QStringList changeButtons;
  // The pickers that offer every table format.
  QStringList tablePickerTitles;
  QString clipboard;
  bool shellWorks = true;

 private:
  template <class T>
  static T Next(std::deque<T>& answers, T otherwise) {
    if (answers.empty()) return otherwise;
    T answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

}  // namespace mirel::test
