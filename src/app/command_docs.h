// The manual pages and shell completion of the two programs, written from
// mirel-tool's command table and the batch tool table.
#pragma once

#include <filesystem>
#include <string>

#include "platform/file_system.h"
#include "platform/status.h"

namespace mirel {

std::string ToolManPage();    // mirel-tool(1), troff
std::string EditorManPage();  // mirel-editor(1), troff
// Defines _mirel_tool and registers it for mirel-tool.
std::string BashCompletion();
std::string ZshCompletion();  // #compdef mirel-tool

// Writes mirel-tool.1, mirel-editor.1, mirel-tool.bash and _mirel-tool into
// `folder`, which must exist.
Status WriteCommandDocs(FileSystem& fs, const std::filesystem::path& folder);

}  // namespace mirel
