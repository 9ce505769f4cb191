// A table of a Linux input method open in the editor. The store holds its
// rows as a Mirel text in the temporary folder; this keeps the table as it
// was read (header, weights, comments) and, on save, puts the store's rows
// back into it and writes it in the table's own format: an installed table
// as the input method's user copy, after a prompt that says where; a table
// file opened by its path back into that file. Interface thread only.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "app/table_editor.h"
#include "ime/linux_tables.h"
#include "platform/ui/ui_services.h"
#include "store/save_check.h"
#include "store/table_store.h"

class QWidget;

namespace mirel {

class LinuxSession {
 public:
  LinuxSession(TableEditor& editor, UiServices& services)
      : store_(editor.store()), editor_(editor), services_(services) {}

  // Lists the tables and reads the one chosen into a Mirel text in the
  // temporary folder; returns that file for the editor to open, or nullopt
  // (cancelled, or a message was shown).
  std::optional<std::filesystem::path> Choose(QWidget* parent, const LinuxEnvironment& env);
  // The same for a table already chosen.
  std::optional<std::filesystem::path> Prepare(QWidget* parent, LinuxTableInfo chosen);
  // The same for a table file in one of the Linux formats.
  std::optional<std::filesystem::path> PrepareFile(QWidget* parent,
                                                   const std::filesystem::path& file,
                                                   linux_table::LinuxFormat format);
  // After the editor opened the file Choose returned.
  void Begin();
  // The editor could not open it: its text goes.
  void Abandon();
  void End() { open_.reset(); }
  bool active() const { return open_.has_value(); }
  // The table as the user knows it: the file, or the installed table's name
  // ("rime:wubi86"); what the window shows and offers again.
  QString origin() const;
  // The format's name, as the dialogs show it.
  QString formatName() const;
  // The header was edited since the last save; closing must ask.
  bool headerChanged() const { return open_ && open_->headerChanged; }

  // Writes the user copy; false when the user said no or it failed (with a
  // message). Rows the format cannot hold are listed in the one question
  // before anything is written. The store is marked saved only when the
  // copy was written.
  bool Save(QWidget* parent);
  // The 表头 dialog; a header that would leave rows out says so at 确定.
  void EditHeader(QWidget* parent);

  // The prompt text of a save, naming the file.
  QString SavePrompt() const;

 private:
  // The store's rows put back into the table as read.
  linux_table::LinuxTable CurrentTable() const;

  struct Open {
    LinuxTableInfo info;
    // Set for a table opened by its path: a save writes this file.
    std::filesystem::path file;
    linux_table::LinuxTable table;
    std::filesystem::path text;
    bool headerChanged = false;
  };
  // Reads the table through its format and writes its rows as a Mirel text.
  std::optional<std::filesystem::path> Stage(QWidget* parent, Open open,
                                             const std::filesystem::path& path,
                                             linux_table::LinuxFormat format);
  TableStore& store_;
  TableEditor& editor_;
  UiServices& services_;
  std::optional<Open> pending_, open_;
};

}  // namespace mirel
