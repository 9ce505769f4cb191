// mirel-editor: the batch grammar first (no window, no display needed), then
// the editor window.
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/batch.h"
#include "app/ui/main_window.h"
#include "ime/installed_tables.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/version.h"
#include "platform/temp_folder.h"
#include "platform/utf16.h"
#include "store/character_class.h"

namespace {

constexpr const char* kUsage =
    "Usage: mirel-editor [TABLE]\n"
    "       mirel-editor --installed KEY|NAME\n"
    "       mirel-editor /do=TOOL [/OPTION=VALUE ...]\n"
    "\n"
    "Opens the code table editor, with TABLE (a .txt or .ktb file) open when given,\n"
    "or the main table of the installed copy of the input method named KEY or NAME\n"
    "(saving then compiles back into it).\n"
    "With /do=TOOL it runs a table tool instead, without a window; see\n"
    "'mirel-tool batch --help' for the tools and their options.\n"
    "\n"
    "  --help      print this help\n"
    "  --version   print the version\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::unique_ptr<mirel::FileSystem> fs = mirel::NewPosixFileSystem();
  mirel::BatchEnvironment batch{mirel::ProgramFolder(), {}, std::cerr, *fs, "mirel-editor",
                                ::isatty(2) == 1,       {}};
  if (std::optional<int> status = mirel::RunBatchCommandLine(args, batch)) return *status;
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  if (!args.empty() && args[0] == "--version") {
    std::cout << "mirel-editor " << mirel::kVersion << "\n";
    return 0;
  }
  const bool installed = !args.empty() && args[0] == "--installed";
  if (installed && args.size() != 2) {
    std::cerr << "mirel-editor: --installed needs the key or display name of an installed copy\n";
    return 2;
  }
  if (!installed && args.size() > 1) {
    std::cerr << "mirel-editor: one table at most\n" << kUsage;
    return 2;
  }

  QApplication app(argc, argv);
  auto temp = mirel::TempFolder::Open();
  if (!temp.IsOk()) {
    std::cerr << "mirel-editor: " << temp.status().message() << "\n";
    return 1;
  }
  auto classes = mirel::CharacterClassTable::BuiltIn();
  mirel::TableStore store(*fs, *temp.value(), classes.get());
  mirel::DesktopUiServices services;
  mirel::MainWindow window(store, services, mirel::ProgramFolder());
  const mirel::InstalledEnvironment environment = mirel::InstalledEnvironment::FromProcess();
  window.SetInstalledEnvironment(environment);
  window.show();
  if (installed) {
    auto copies = mirel::InstalledCopies::Load(*fs, environment);
    if (!copies.IsOk()) {
      std::cerr << "mirel-editor: " << copies.status().message() << "\n";
      return 1;
    }
    auto key = mirel::FindInstalledCopy(copies.value(), mirel::Utf8ToUtf16(args[1]));
    if (!key) {
      std::cerr << "mirel-editor: no installed copy is called " << args[1] << "\n";
      return 1;
    }
    auto table = mirel::ReadInstalledTable(copies.value(), *key, *temp.value());
    if (!table.IsOk()) {
      std::cerr << "mirel-editor: " << table.status().message() << "\n";
      return 1;
    }
    window.OpenInstalled(table.value());
  } else if (!args.empty()) {
    window.OpenTable(std::filesystem::absolute(args[0]));
  }
  return app.exec();
}
