#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/tool_cli.h"
#include "platform/paths.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  mirel::ToolIo io{std::cout,
                   std::cerr,
                   mirel::ProgramFolder(),
                   {},
                   {},
                   ::isatty(2) == 1,
                   mirel::InstalledEnvironment::FromProcess()};
  return mirel::RunTool(args, io);
}
