#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/tool_cli.h"
#include "platform/file_system.h"
#include "platform/paths.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  std::unique_ptr<mirel::FileSystem> fs = mirel::NewPosixFileSystem();
  mirel::ToolIo io{std::cout,
                   std::cerr,
                   *fs,
                   mirel::ProgramFolder(),
                   {},
                   {},
                   ::isatty(2) == 1,
                   mirel::InstalledEnvironment::FromProcess()};
  return mirel::RunTool(args, io);
}
