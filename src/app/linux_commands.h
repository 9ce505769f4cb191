// The command-line side of the Linux input methods: the `linux
// list/export/install` rows of mirel-tool's command table, and how a
// conversion into their formats reports the rows it leaves out.
#pragma once

#include <string>
#include <vector>

#include "app/command_table.h"
#include "app/tool_cli.h"
#include "convert/table_formats.h"

namespace mirel {

// Each row left out or line not taken, as a warning naming its line.
void ReportDiagnostics(const std::string& file,
                       const std::vector<linux_table::Diagnostic>& diagnostics,
                       const CommandContext& ctx);
// Rows a Linux target cannot hold are listed and the write refused, unless
// `drop` says to write the rest without them.
ConfirmDrops RefuseDropsUnless(bool drop, const std::string& source, CommandContext& ctx);

// The `linux` command with its subcommands.
CommandRow LinuxCommand();

}  // namespace mirel
