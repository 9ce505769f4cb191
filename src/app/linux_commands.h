// The command-line side of the Linux input methods: conversions that involve
// their formats, detecting them, and the `linux list/export/install` rows of
// mirel-tool's command table.
#pragma once

#include <optional>
#include <string>

#include "app/command_table.h"
#include "app/tool_cli.h"

namespace mirel {

// Handles `convert` when either format is a Linux one (or, without --from,
// when the source is detected as one); nullopt leaves it to the common
// conversion. Rows the target cannot hold fail the conversion, listed,
// unless `drop` lets it write the others.
std::optional<Status> TryLinuxConvert(const std::string& source, const std::string& from,
                                      const std::string& to, const std::string& output, bool drop,
                                      CommandContext& ctx);
// Handles `detect` when the source is a Linux table: true when it printed the
// format.
bool TryLinuxDetect(const std::string& source, CommandContext& ctx);

// The `linux` command with its subcommands.
CommandRow LinuxCommand();

}  // namespace mirel
