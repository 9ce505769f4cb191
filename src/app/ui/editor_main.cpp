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
#include "platform/paths.h"
#include "platform/temp_folder.h"
#include "store/character_class.h"

namespace {

constexpr const char* kUsage =
    "Usage: mirel-editor [TABLE]\n"
    "       mirel-editor /do=TOOL [/OPTION=VALUE ...]\n"
    "\n"
    "Opens the code table editor, with TABLE (a .txt or .ktb file) open when given.\n"
    "With /do=TOOL it runs a table tool instead, without a window; see\n"
    "'mirel-tool batch --help' for the tools and their options.\n"
    "\n"
    "  --help      print this help\n"
    "  --version   print the version\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  mirel::BatchEnvironment batch{mirel::ProgramFolder(), {}, std::cerr, "mirel-editor", {}};
  if (std::optional<int> status = mirel::RunBatchCommandLine(args, batch)) return *status;
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  if (!args.empty() && args[0] == "--version") {
    std::cout << "mirel-editor 3.0.0\n";
    return 0;
  }
  if (args.size() > 1) {
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
  mirel::TableStore store(*temp.value(), classes.get());
  mirel::DesktopUiServices services;
  mirel::MainWindow window(store, services, mirel::ProgramFolder());
  window.show();
  if (!args.empty()) window.OpenTable(std::filesystem::absolute(args[0]));
  return app.exec();
}
