// The command-line side of the Linux input methods: conversions that involve
// their formats, detecting them, and `linux list/export/install`. Kept apart
// from tool_cli.cpp, which calls in here, so that the commands can later
// become rows of its command table.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "app/tool_cli.h"

namespace mirel {

// Handles `convert` when either format is a Linux one (or, without --from,
// when the source is detected as one); nullopt leaves it to the common
// conversion.
std::optional<int> TryLinuxConvert(const std::string& source, const std::string& from,
                                   const std::string& to, const std::string& output, ToolIo& io);
// Handles `detect` when the source is a Linux table.
std::optional<int> TryLinuxDetect(const std::string& source, ToolIo& io);

struct LinuxCommands {
  CLI::App* linux = nullptr;
  CLI::App* list = nullptr;
  CLI::App* exportTable = nullptr;
  CLI::App* install = nullptr;
  bool json = false, reload = false;
  std::string name, table, output, to;
};

void AddLinuxCommands(CLI::App& app, LinuxCommands& commands);
// nullopt when no `linux` command was given.
std::optional<int> RunLinuxCommands(const LinuxCommands& commands, ToolIo& io);

}  // namespace mirel
