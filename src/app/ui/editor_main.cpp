// mirel-editor: the batch grammar first (no window, no display needed), then
// the editor window.
#include <unistd.h>

#include <QApplication>
#include <QSettings>
#include <QTranslator>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#include "app/batch.h"
#include "app/ui/chinese_ui.h"
#include "app/ui/main_window.h"
#include "ime/installed_tables.h"
#include "platform/file_system.h"
#include "platform/memory.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "platform/temp_folder.h"
#include "platform/terminal_text.h"
#include "platform/utf16.h"
#include "platform/version.h"
#include "store/character_class.h"

namespace {

constexpr const char* kUsage =
    "Usage: mirel-editor [TABLE]\n"
    "       mirel-editor --installed KEY|NAME\n"
    "       mirel-editor /do=TOOL [/OPTION=VALUE ...]\n"
    "\n"
    "Opens the code table editor, with TABLE open when given (a text or compiled\n"
    "table, one of the common line formats, or a table of fcitx5, Rime or ibus-table),\n"
    "or the main table of the installed copy of the input method named KEY or NAME\n"
    "(saving then compiles back into it).\n"
    "With /do=TOOL it runs a table tool instead, without a window; see\n"
    "'mirel-tool batch --help' for the tools and their options.\n"
    "\n"
    "  --help      print this help\n"
    "  --version   print the version\n";

// Qt cannot carry an exception through its event loop: a handler that runs
// out of memory ends here, the command fails and the table stays open.
class EditorApplication : public QApplication {
 public:
  EditorApplication(int& argc, char** argv) : QApplication(argc, argv) {}
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::bad_alloc&) {
      std::fputs("mirel-editor: out of memory; the command was not completed\n", stderr);
      return false;
    }
  }
};

// Without QT_QPA_PLATFORM, Qt looks for an X11 or Wayland display and aborts
// the process when there is none.
bool HasDisplay() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

int RunEditor(int argc, char** argv, std::ostream& out, std::ostream& err) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::unique_ptr<mirel::FileSystem> fs = mirel::NewPosixFileSystem();
  mirel::BatchEnvironment batch{mirel::ProgramFolder(), {}, err, *fs, "mirel-editor",
                                ::isatty(2) == 1};
  if (std::optional<int> status = mirel::RunBatchCommandLine(args, batch)) return *status;
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    out << kUsage;
    return 0;
  }
  if (!args.empty() && args[0] == "--version") {
    out << "mirel-editor " << mirel::kVersion << "\n";
    return 0;
  }
  const bool installed = !args.empty() && args[0] == "--installed";
  if (installed && args.size() != 2) {
    err << "mirel-editor: --installed needs the key or display name of an installed copy\n";
    return 2;
  }
  if (!installed && args.size() > 1) {
    err << "mirel-editor: one table at most\n" << kUsage;
    return 2;
  }
  if (!HasDisplay()) {
    err << "mirel-editor: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are "
           "not set); to run a table tool without a window, give /do=TOOL (see 'mirel-tool "
           "batch --help')\n";
    return 1;
  }

  EditorApplication app(argc, argv);
  // Qt takes the whole locale from the environment again; numbers stay in
  // the C form the engines print and parse.
  std::setlocale(LC_NUMERIC, "C");
  mirel::PreferChineseMessages();
  // The window speaks Chinese, so Qt's own buttons and pickers do too.
  QTranslator qtChinese;
  mirel::InstallQtChinese(qtChinese);
  QSettings settings(QStringLiteral("Mirel"), QStringLiteral("mirel-editor"));
  auto temp = mirel::TempFolder::Open();
  if (!temp.IsOk()) {
    err << "mirel-editor: " << temp.status().message() << "\n";
    return 1;
  }
  auto classes = mirel::CharacterClassTable::BuiltIn();
  mirel::TableStore store(*fs, *temp.value(), classes.get());
  mirel::DesktopUiServices services;
  mirel::MainWindow window(store, services, mirel::ProgramFolder(), &settings);
  const mirel::InstalledEnvironment environment = mirel::InstalledEnvironment::FromProcess();
  window.SetInstalledEnvironment(environment);
  window.show();
  if (installed) {
    auto copies = mirel::InstalledCopies::Load(*fs, environment);
    if (!copies.IsOk()) {
      err << "mirel-editor: " << copies.status().message() << "\n";
      return 1;
    }
    auto key = mirel::FindInstalledCopy(copies.value(), mirel::Utf8ToUtf16(args[1]));
    if (!key) {
      err << "mirel-editor: no installed copy is called " << args[1] << "\n";
      return 1;
    }
    auto table = mirel::ReadInstalledTable(copies.value(), *key, *temp.value());
    if (!table.IsOk()) {
      err << "mirel-editor: " << table.status().message() << "\n";
      return 1;
    }
    window.OpenInstalled(table.value());
  } else if (!args.empty()) {
    window.OpenTable(std::filesystem::absolute(args[0]));
  }
  return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
  // A write past `ulimit -f` then fails with EFBIG ("File too large") and is
  // reported like any other, instead of killing the program mid-save.
  ::signal(SIGXFSZ, SIG_IGN);
  mirel::ReturnLargeBlocksWhenFreed();
  mirel::SetUpMessages(mirel::ProgramFolder());
  // What is printed may hold text from the files: escape it once here.
  mirel::EscapingStreamBuffer outBuffer(std::cout);
  mirel::EscapingStreamBuffer errBuffer(std::cerr);
  std::ostream out(&outBuffer);
  std::ostream err(&errBuffer);
  try {
    return RunEditor(argc, argv, out, err);
  } catch (const std::bad_alloc&) {
    err << "mirel-editor: out of memory\n";
    return 1;
  }
}
