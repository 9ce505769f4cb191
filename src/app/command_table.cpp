#include "app/command_table.h"

#include "app/batch.h"
#include "app/table_tools.h"
#include "app/tool_cli.h"
#include "convert/table_formats.h"
#include "platform/terminal_text.h"
#include "platform/utf16.h"

namespace mirel {

std::string ArgumentRow::Key() const {
  if (positional()) return name;
  const size_t last = name.rfind(',');
  std::string spelling = last == std::string::npos ? name : name.substr(last + 1);
  return spelling.substr(spelling.find_first_not_of('-'));
}

std::vector<std::string> ArgumentRow::Spellings() const {
  std::vector<std::string> spellings;
  if (positional()) return spellings;
  for (size_t start = 0; start <= name.size();) {
    const size_t comma = std::min(name.find(',', start), name.size());
    spellings.push_back(name.substr(start, comma - start));
    start = comma + 1;
  }
  return spellings;
}

ArgumentRow PositionalArgument(std::string name, std::string help, ValueKind kind) {
  ArgumentRow row;
  row.name = std::move(name);
  row.help = std::move(help);
  row.kind = kind;
  row.required = true;
  return row;
}

ArgumentRow OptionArgument(std::string name, std::string valueName, std::string help,
                           ValueKind kind) {
  ArgumentRow row;
  row.name = std::move(name);
  row.valueName = std::move(valueName);
  row.help = std::move(help);
  row.kind = kind;
  return row;
}

ArgumentRow FlagArgument(std::string name, std::string help) {
  return OptionArgument(std::move(name), "", std::move(help), ValueKind::kFlag);
}

const std::string& CommandArgs::Get(std::string_view key) const {
  static const std::string kNone;
  auto found = values.find(key);
  return found == values.end() || found->second.empty() ? kNone : found->second.front();
}

const std::vector<std::string>& CommandArgs::All(std::string_view key) const {
  static const std::vector<std::string> kNone;
  auto found = values.find(key);
  return found == values.end() ? kNone : found->second;
}

bool CommandArgs::Flag(std::string_view key) const {
  auto found = flags.find(key);
  return found != flags.end() && found->second;
}

void CommandContext::Warn(const Status& status) const {
  // One message, one line: a file name must not start another.
  io.err << kToolProgram << ": " << command_ << ": " << EscapeName(status.message()) << "\n";
}

namespace {

void WalkCommands(const std::vector<CommandRow>& rows, const std::string& prefix,
                  const std::function<void(const CommandRow&, const std::string&)>& visit) {
  for (const CommandRow& row : rows) {
    const std::string path = prefix.empty() ? row.name : prefix + " " + row.name;
    visit(row, path);
    WalkCommands(row.subcommands, path, visit);
  }
}

}  // namespace

void ForEachCommand(const std::function<void(const CommandRow&, const std::string&)>& visit) {
  WalkCommands(ToolCommands(), "", visit);
}

std::string Counted(uint64_t n, std::string_view one, std::string_view many) {
  std::string counted = std::to_string(n);
  counted += ' ';
  counted += n == 1 ? one : many;
  return counted;
}

std::string OutputName(const std::filesystem::path& output) {
  return output == "-" ? "standard output" : EscapeName(output.string());
}

int CommandContext::Finish(const Status& status) const {
  if (status.IsOk()) return exitStatus_;
  Warn(status);
  return usage_ ? 2 : 1;
}

const std::vector<ExitStatus>& CommonExitStatuses() {
  static const std::vector<ExitStatus> exits = {
      {0, "success"},
      {1, "failure: a file cannot be read or written, or its content is refused"},
      {2, "usage error: an unknown command or option, or a missing argument"}};
  return exits;
}

std::vector<std::string> ValueChoices(ValueKind kind) {
  switch (kind) {
    case ValueKind::kOrder: {
      std::vector<std::string> names;
      for (const OrderingName& name : OrderingNames()) names.emplace_back(name.cli);
      return names;
    }
    case ValueKind::kFormat: {
      std::vector<std::string> names;
      const std::string all = AllFormatNames();
      for (size_t start = 0; start < all.size();) {
        const size_t end = std::min(all.find(", ", start), all.size());
        names.push_back(all.substr(start, end - start));
        start = end + 2;
      }
      return names;
    }
    default:
      return {};
  }
}

const CommandRow* FindCommand(std::string_view name) {
  const std::vector<CommandRow>* level = &ToolCommands();
  const CommandRow* found = nullptr;
  while (!name.empty()) {
    const size_t space = name.find(' ');
    const std::string_view word = name.substr(0, space);
    found = nullptr;
    for (const CommandRow& row : *level) {
      if (row.name == word) found = &row;
    }
    if (found == nullptr) return nullptr;
    level = &found->subcommands;
    name = space == std::string_view::npos ? std::string_view() : name.substr(space + 1);
  }
  return found;
}

std::string BatchHelpText() {
  // Columns counted in display width: a Han character takes two.
  auto width = [](std::string_view text) {
    size_t columns = 0;
    for (char16_t u : Utf8ToUtf16(text)) columns += u >= 0x1100 ? 2 : 1;
    return columns;
  };
  std::string text =
      "Usage: mirel-tool batch /do=TOOL [/OPTION=VALUE ...]\n"
      "\n"
      "Runs a table tool with the batch grammar of the editor's command line.\n"
      "Options are written /name=value, /name:value, /name value, or with '-' for '/';\n"
      "names match without regard to case; a value with spaces goes in double quotes.\n"
      "Relative paths are taken relative to the folder of the program, not the\n"
      "current directory. Results are written beside the source table.\n"
      "\n"
      "Tools and their options:\n";
  for (const BatchToolRow& tool : BatchTools()) {
    const std::string name = Utf16ToUtf8(tool.name);
    text += "  " + name + std::string(18 - std::min<size_t>(width(name), 16), ' ') +
            std::string(tool.summary) + "\n";
    std::string line = "                  ";
    for (const BatchOptionRow& option : tool.options) {
      std::string word = "/";
      word += Utf16ToUtf8(option.name);
      word += "=";
      word += option.valueName;
      word += " ";
      if (width(line) + width(word) > 80) {
        text += line + "\n";
        line = "                  ";
      }
      line += word;
    }
    text += line + "-> " + Utf16ToUtf8(tool.output) + "\n";
    if (!tool.notes.empty()) text += "                  " + std::string(tool.notes) + "\n";
  }
  text +=
      "\n"
      "Exit status: 0 success, 1 failure, 2 unknown tool, no /do option, or an option\n"
      "the tool does not read or that repeats.\n"
      "\n"
      "Example:\n"
      "  mirel-tool batch /do=删除重复 \"/源码表文件=/home/me/tables/main.txt\"\n";
  return text;
}

}  // namespace mirel
