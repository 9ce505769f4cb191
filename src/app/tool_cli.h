// mirel-tool: the conventional command line over the table engines, for
// people and scripts. Paths are relative to the current directory. Help goes
// to `out` with status 0; every failure is one line on `err` of the form
// "mirel-tool: COMMAND: FILE: what", status 1 (2 for a usage error).
#pragma once

#include <filesystem>
#include <ostream>
#include <span>
#include <string>

#include "app/batch.h"
#include "ime/installed_copies.h"
#include "ime/linux_tables.h"
#include "platform/file_system.h"

namespace mirel {

struct ToolIo {
  std::ostream& out;
  std::ostream& err;
  FileSystem& fs;
  std::filesystem::path programFolder;
  std::filesystem::path tempBase;  // empty: $TMPDIR or /tmp
  // Progress lines are drawn only on a terminal.
  bool errIsTerminal = false;
  // Where the installed copies of the input method are looked up.
  InstalledEnvironment installed;
  // Where the tables of the Linux input methods are looked up.
  LinuxEnvironment linuxTables = LinuxEnvironment::FromProcess();
  // What starts the input methods' own programs; null: the real runner.
  ProcessRunner* programs = nullptr;
};

// argv[0] is the program name.
int RunTool(std::span<const std::string> argv, ToolIo& io);

}  // namespace mirel
