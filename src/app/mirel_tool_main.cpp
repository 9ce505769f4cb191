#include <unistd.h>

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "app/tool_cli.h"
#include "platform/file_system.h"
#include "platform/memory.h"
#include "platform/messages.h"
#include "platform/paths.h"

int main(int argc, char** argv) {
  // A write past `ulimit -f` then fails with EFBIG ("File too large") and is
  // reported like any other, instead of killing the program mid-save.
  ::signal(SIGXFSZ, SIG_IGN);
  mirel::ReturnLargeBlocksWhenFreed();
  mirel::SetUpMessages(mirel::ProgramFolder());
  std::vector<std::string> args(argv, argv + argc);
  std::unique_ptr<mirel::FileSystem> fs = mirel::NewPosixFileSystem();
  mirel::ToolIo io{std::cout,
                   std::cerr,
                   *fs,
                   mirel::ProgramFolder(),
                   {},
                   ::isatty(2) == 1,
                   mirel::InstalledEnvironment::FromProcess()};
  return mirel::RunTool(args, io);
}
