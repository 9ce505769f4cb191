#include "app/command_docs.h"

#include <functional>
#include <span>
#include <sstream>

#include "app/batch.h"
#include "app/command_table.h"
#include "app/editor_commands.h"
#include "platform/utf16.h"
#include "platform/version.h"

namespace mirel {
namespace {

// --- troff ------------------------------------------------------------------

// Text for a troff text line: backslashes escaped, and a line that would
// start with a control character made plain.
std::string Roff(std::string_view text) {
  std::string out;
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    lineStart = c == '\n';
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  return out;
}

// Portable key texts as a person reads them: "Ctrl+Y, Ctrl+Shift+Z",
// "Insert" for Ins, "Enter" for Return.
std::string KeysShown(std::string_view keys) {
  std::string shown;
  size_t start = 0;
  while (start <= keys.size()) {
    size_t end = keys.find('|', start);
    if (end == std::string_view::npos) end = keys.size();
    std::string_view key = keys.substr(start, end - start);
    if (!shown.empty()) shown += ", ";
    if (key == "Ins") {
      shown += "Insert";
    } else if (key == "Del") {
      shown += "Delete";
    } else if (key == "Return") {
      shown += "Enter";
    } else {
      shown += key;
    }
    start = end + 1;
  }
  return shown;
}

// Help text written over several lines for a terminal, as one paragraph.
std::string Paragraph(std::string_view text) {
  std::string joined(text);
  for (char& c : joined) {
    if (c == '\n') c = ' ';
  }
  return Roff(joined);
}

std::string Synopsis(const CommandRow& row, const std::string& path) {
  std::string line = "\\fB" + Roff(path) + "\\fR";
  for (const ArgumentRow& arg : row.arguments) {
    std::string word;
    if (arg.positional()) {
      word = "\\fI" + arg.name + "\\fR";
      if (arg.maxCount > 1) word += " ...";
    } else {
      word = "\\fB" + Roff(arg.Spellings().back()) + "\\fR";
      if (arg.kind != ValueKind::kFlag) word += " \\fI" + arg.valueName + "\\fR";
    }
    if (!arg.required) {
      word.insert(0, 1, '[');
      word += ']';
    }
    line += " ";
    line += word;
  }
  if (!row.subcommands.empty()) {
    line += row.needsSubcommand ? " \\fISUBCOMMAND\\fR" : " [\\fISUBCOMMAND\\fR]";
  }
  if (row.ownArguments)
    line += " \\fB/do=\\fR\\fITOOL\\fR [\\fB/\\fR\\fIOPTION\\fR\\fB=\\fR\\fIVALUE\\fR ...]";
  return line;
}

void ManCommand(std::ostream& out, const CommandRow& row, const std::string& path) {
  out << ".SS \"" << path << "\"\n";
  out << Synopsis(row, "mirel-tool " + path) << "\n.PP\n" << Paragraph(row.summary) << "\n";
  for (const ArgumentRow& arg : row.arguments) {
    out << ".TP\n";
    if (arg.positional()) {
      out << "\\fI" << arg.name << "\\fR\n";
    } else {
      std::string names;
      for (const std::string& spelling : arg.Spellings()) {
        names += (names.empty() ? "" : ", ") + ("\\fB" + Roff(spelling) + "\\fR");
      }
      if (arg.kind != ValueKind::kFlag) names += " \\fI" + arg.valueName + "\\fR";
      out << names << "\n";
    }
    std::string help = arg.help;
    if (const std::vector<std::string> choices = ValueChoices(arg.kind);
        !choices.empty() && arg.kind == ValueKind::kFormat) {
      help += "; one of:";
      for (const std::string& choice : choices) help += " " + choice;
    }
    if (arg.required && !arg.positional()) help += " (required)";
    if (arg.maxCount > 1 && !arg.positional()) help += " (may be repeated)";
    out << Paragraph(help) << "\n";
  }
  if (!row.notes.empty()) out << ".PP\n" << Roff(row.notes) << "\n";
  if (!row.exits.empty()) {
    out << ".PP\nExit status:\n";
    for (const ExitStatus& exit : row.exits) {
      out << ".br\n" << exit.code << ": " << Roff(exit.meaning) << "\n";
    }
  }
  if (!row.examples.empty()) {
    out << ".PP\n" << (row.examples.size() == 1 ? "Example:" : "Examples:") << "\n.RS\n.nf\n";
    for (const std::string& example : row.examples) out << Roff(example) << "\n";
    out << ".fi\n.RE\n";
  }
  for (const CommandRow& sub : row.subcommands) ManCommand(out, sub, path + " " + sub.name);
}

std::string Header(std::string_view name, std::string_view title) {
  std::ostringstream out;
  out << ".\\\" Written by mirel-tool --write-docs from its command table.\n"
      << ".TH " << name << " 1 \"\" \"Mirel " << kVersion << "\" \"" << title << "\"\n";
  return out.str();
}

void ExitStatusSection(std::ostream& out, const std::vector<ExitStatus>& exits) {
  out << ".SH \"EXIT STATUS\"\n";
  for (const ExitStatus& exit : exits) {
    out << ".TP\n.B " << exit.code << "\n" << Roff(exit.meaning) << "\n";
  }
}

// --- shell words ------------------------------------------------------------

std::string Join(const std::vector<std::string>& words, std::string_view separator = " ") {
  std::string out;
  for (const std::string& word : words) {
    if (!out.empty()) out += separator;
    out += word;
  }
  return out;
}

std::vector<std::string> Names(const std::vector<CommandRow>& rows) {
  std::vector<std::string> names;
  for (const CommandRow& row : rows) names.push_back(row.name);
  return names;
}

std::vector<std::string> NumberChoices(const ArgumentRow& arg) {
  std::vector<std::string> numbers;
  for (int n = arg.minimum; n <= arg.maximum && n - arg.minimum < 32; ++n) {
    numbers.push_back(std::to_string(n));
  }
  return numbers;
}

// Text inside single quotes of a shell script.
std::string Quoted(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// The first line of a help text, as a zsh _arguments description.
std::string ZshDescription(std::string_view text) {
  text = text.substr(0, text.find('\n'));
  std::string out;
  for (char c : text) {
    if (c == '[' || c == ']' || c == ':' || c == '\\') out += '\\';
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out;
}

std::string ZshFunctionName(const std::string& path) {
  std::string name = "_mirel-tool";
  if (!path.empty()) name += "_";
  for (char c : path) name += c == ' ' || c == '-' ? '_' : c;
  return name;
}

std::string ZshValueAction(const ArgumentRow& arg) {
  switch (arg.kind) {
    case ValueKind::kFile:
      return "_files";
    case ValueKind::kOrder:
    case ValueKind::kFormat:
      return "(" + Join(ValueChoices(arg.kind)) + ")";
    case ValueKind::kNumber:
      return "(" + Join(NumberChoices(arg)) + ")";
    default:
      return " ";
  }
}

void ZshFunction(std::ostream& out, const std::vector<CommandRow>& subcommands,
                 const std::vector<ArgumentRow>& arguments, bool ownArguments,
                 const std::string& path, bool top) {
  out << ZshFunctionName(path) << "() {\n"
      << "  local context state state_descr line\n"
      << "  typeset -A opt_args\n"
      << "  _arguments -C \\\n";
  if (top) {
    out << "    '(- *)--help[print the help]' \\\n"
        << "    '(- *)--version[print the version]' \\\n"
        << "    '(- *)--write-docs[write the manual pages and completion]:folder:_files -/' \\\n";
  } else {
    out << "    '(- *)'{-h,--help}'[print the help]' \\\n";
  }
  int position = 1;
  for (const ArgumentRow& arg : arguments) {
    if (arg.positional()) {
      const std::string where = arg.maxCount > 1 ? "*" : std::to_string(position++);
      out << "    '" << where << (arg.required ? "" : ":") << ":" << arg.name << ":"
          << ZshValueAction(arg) << "' \\\n";
      continue;
    }
    const std::vector<std::string> spellings = arg.Spellings();
    std::string group = "*";
    if (arg.maxCount == 1) {
      group = "(";
      group += Join(spellings);
      group += ")";
    }
    for (const std::string& spelling : spellings) {
      out << "    '" << group << spelling << "[" << ZshDescription(arg.help) << "]";
      if (arg.kind != ValueKind::kFlag) out << ":" << arg.valueName << ":" << ZshValueAction(arg);
      out << "' \\\n";
    }
  }
  if (ownArguments) out << "    '*:argument:_files' \\\n";
  if (!subcommands.empty()) {
    out << "    '" << position << ":command:->command' \\\n"
        << "    '*::argument:->argument' \\\n";
  }
  out << "    && return 0\n";
  if (!subcommands.empty()) {
    out << "  case $state in\n"
        << "    command)\n"
        << "      local -a commands\n"
        << "      commands=(\n";
    for (const CommandRow& row : subcommands) {
      out << "        '" << row.name << ":" << ZshDescription(row.summary) << "'\n";
    }
    out << "      )\n"
        << "      _describe -t commands 'command' commands\n"
        << "      ;;\n"
        << "    argument)\n"
        << "      case $words[1] in\n";
    for (const CommandRow& row : subcommands) {
      const std::string sub = path.empty() ? row.name : path + " " + row.name;
      out << "        " << row.name << ") " << ZshFunctionName(sub) << " ;;\n";
    }
    out << "      esac\n"
        << "      ;;\n"
        << "  esac\n";
  }
  out << "}\n\n";
}

}  // namespace

std::string ToolManPage() {
  std::ostringstream out;
  out << Header("MIREL-TOOL", "User Commands");
  out << ".SH NAME\nmirel\\-tool \\- clean up, reorder, compile, convert and generate input-method "
         "code tables\n";
  out << ".SH SYNOPSIS\n"
      << ".B mirel\\-tool\n\\fICOMMAND\\fR [\\fIOPTION\\fR ...] [\\fIARGUMENT\\fR ...]\n.br\n"
      << ".B mirel\\-tool\n\\fB\\-\\-help\\fR | \\fB\\-\\-version\\fR | "
         "\\fB\\-\\-write\\-docs\\fR \\fIDIR\\fR\n";
  out << ".SH DESCRIPTION\n"
      << "\\fBmirel\\-tool\\fR runs the table tools of the Mirel code table editor from a shell "
         "or a script, without a window.\n"
      << "A code table has one row per line: an entry, a TAB and its code.\n"
      << "Tables are read in UTF\\-8, UTF\\-16 (with a byte order mark) or GBK, and written as "
         "UTF\\-16LE with CR LF line ends.\n"
      << "Paths are taken relative to the current directory.\n"
      << "Help goes to standard output; every failure is one line on standard error of the form\n"
      << ".IP\n\\fBmirel\\-tool: \\fR\\fICOMMAND\\fR\\fB: \\fR\\fIFILE\\fR\\fB: \\fR\\fIwhat\\fR\n"
      << ".PP\nand no result is left half written.\n";
  out << ".SH OPTIONS\n"
      << ".TP\n\\fB\\-\\-help\\fR\nprint the commands; \\fBmirel\\-tool \\fR\\fICOMMAND\\fR "
         "\\fB\\-\\-help\\fR or \\fBmirel\\-tool help \\fR\\fICOMMAND\\fR prints the options of "
         "one\n"
      << ".TP\n\\fB\\-\\-version\\fR\nprint the version\n"
      << ".TP\n\\fB\\-\\-write\\-docs\\fR \\fIDIR\\fR\nwrite these manual pages and the bash and "
         "zsh completion into \\fIDIR\\fR\n";
  out << ".SH COMMANDS\n";
  for (const CommandRow& row : ToolCommands()) ManCommand(out, row, row.name);
  ExitStatusSection(out, CommonExitStatuses());
  out << ".PP\nA command that differs says so above.\n";
  out << ".SH EXAMPLES\n.nf\n";
  for (const CommandRow& row : ToolCommands()) {
    for (const std::string& example : row.examples) out << Roff(example) << "\n";
  }
  out << ".fi\n";
  out << ".SH ENVIRONMENT\n"
      << ".TP\n.B TMPDIR\nwhere the private temporary folder is made (default /tmp)\n"
      << ".TP\n.BR WINEPREFIX \", \" MIREL_REGISTRY \", \" MIREL_SYSTEM_DIR \", \" "
         "MIREL_COMMON_APPDATA\nwhere \\fBinstalled\\fR looks for the installed copies of the "
         "input method\n"
      << ".TP\n.BR XDG_DATA_HOME \", \" XDG_CONFIG_HOME \", \" XDG_DATA_DIRS\nwhere "
         "\\fBlinux\\fR looks for the tables of fcitx5, Rime and ibus\\-table\n";
  out << ".SH \"SEE ALSO\"\n.BR mirel\\-editor (1)\n";
  return out.str();
}

std::string EditorManPage() {
  std::ostringstream out;
  out << Header("MIREL-EDITOR", "User Commands");
  out << ".SH NAME\nmirel\\-editor \\- editor of Chinese input-method code tables\n";
  out << ".SH SYNOPSIS\n"
      << ".B mirel\\-editor\n[\\fITABLE\\fR]\n.br\n"
      << ".B mirel\\-editor\n\\fB\\-\\-installed\\fR \\fIKEY\\fR|\\fINAME\\fR\n.br\n"
      << ".B mirel\\-editor\n\\fB/do=\\fR\\fITOOL\\fR [\\fB/\\fR\\fIOPTION\\fR\\fB=\\fR"
         "\\fIVALUE\\fR ...]\n.br\n"
      << ".B mirel\\-editor\n\\fB\\-\\-help\\fR | \\fB\\-\\-version\\fR\n";
  out << ".SH DESCRIPTION\n"
      << "\\fBmirel\\-editor\\fR opens a code table of an input method (a text table, one "
         "entry TAB code row per line, or a compiled \\fI.ktb\\fR table) in a window.\n"
      << "The window lists the rows with their entry and code; the filter box above the list "
         "shows only the rows whose code starts with what is typed, and the title shows the "
         "number of rows.\n"
      << "The menus 文件, 编辑, 工具 and 帮助 open, save and close tables, add, modify, delete, "
         "move and reorder rows, and run the table tools.\n"
      << "Every save replaces the table in one step, so a failed save leaves the old file.\n"
      << "With \\fB\\-\\-installed\\fR the main table of an installed copy of the input method "
         "is opened, and saving compiles it back into that copy.\n"
      << "With a \\fB/do\\fR option no window is shown: the named tool runs and the program "
         "ends (see \\fBBATCH MODE\\fR).\n";
  out << ".SH KEYS\n";
  for (const EditorCommand& c : EditorCommands()) {
    if (c.keys.empty()) continue;
    out << ".TP\n.B " << Roff(KeysShown(c.keys)) << "\n" << Roff(c.keyAction) << "\n";
  }
  out << ".SH \"BATCH MODE\"\n"
      << "The arguments are read as one line. \\fB/do=\\fR\\fITOOL\\fR names the tool; further "
         "options name its files.\n"
      << "Options are written \\fB/\\fR\\fIname\\fR\\fB=\\fR\\fIvalue\\fR, "
         "\\fB/\\fR\\fIname\\fR\\fB:\\fR\\fIvalue\\fR or \\fB/\\fR\\fIname value\\fR, or with "
         "\\fB\\-\\fR for \\fB/\\fR; names match without regard to case; a value with spaces "
         "goes in double quotes.\n"
      << "Relative paths are taken relative to the folder of the program, not the current "
         "directory.\n"
      << "Results are written beside the source table.\n"
      << "The tools and their options:\n";
  for (const BatchToolRow& tool : BatchTools()) {
    out << ".TP\n.B " << Roff(Utf16ToUtf8(tool.name)) << "\n" << Roff(tool.summary) << "\n";
    for (const BatchOptionRow& option : tool.options) {
      out << ".br\n\\fB/" << Roff(Utf16ToUtf8(option.name)) << "=\\fR\\fI" << option.valueName
          << "\\fR: " << Roff(option.help) << "\n";
    }
    if (!tool.notes.empty()) out << ".br\n" << Roff(tool.notes) << "\n";
    out << ".br\nwrites \\(lq" << Roff(Utf16ToUtf8(tool.output)) << "\\(rq\n";
  }
  ExitStatusSection(out, {{0, "success, or the window was closed"},
                          {1, "failure (the message is on standard error)"},
                          {2, "usage error, or an unknown batch tool"}});
  out << ".SH EXAMPLES\n.nf\n"
      << "mirel\\-editor main.txt\n"
      << "mirel\\-editor /do=删除重复 \"/源码表文件=/home/me/tables/main.txt\"\n"
      << ".fi\n";
  out << ".SH FILES\n"
      << ".TP\n.I /usr/share/mirel/help/index.html\nthe help document (F1)\n"
      << ".TP\n.I /usr/share/mirel/sample.txt\na sample table\n";
  out << ".SH \"SEE ALSO\"\n"
      << ".BR mirel\\-tool (1)\n"
      << "runs the same tools from scripts with conventional options, e.g.\n"
      << ".B mirel\\-tool dedup\n"
      << ".IR TABLE .\n";
  return out.str();
}

std::string BashCompletion() {
  std::ostringstream out;
  out << "# bash completion for mirel-tool, written by mirel-tool --write-docs.\n"
      << "_mirel_tool_files() {\n"
      << "  compopt -o filenames 2>/dev/null\n"
      << "  local IFS=$'\\n'\n"
      << "  COMPREPLY=($(compgen -f -- \"$1\"))\n"
      << "}\n\n"
      << "_mirel_tool() {\n"
      << "  local cur prev\n"
      << "  cur=${2-${COMP_WORDS[COMP_CWORD]}}\n"
      << "  prev=${3-${COMP_WORDS[COMP_CWORD-1]}}\n"
      << "  COMPREPLY=()\n"
      << "  # The command path typed so far: \"sort\", \"installed export\".\n"
      << "  local path=\"\" i word\n"
      << "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
      << "    word=${COMP_WORDS[i]}\n"
      << "    case \"$path|$word\" in\n";
  std::vector<std::string> pathCases;
  ForEachCommand([&](const CommandRow&, const std::string& path) {
    const size_t space = path.rfind(' ');
    const std::string parent = space == std::string::npos ? "" : path.substr(0, space);
    const std::string word = space == std::string::npos ? path : path.substr(space + 1);
    pathCases.push_back(Quoted(parent + "|" + word));
  });
  out << "      " << Join(pathCases, "|") << ")\n"
      << "        path=${path:+$path }$word ;;\n"
      << "    esac\n"
      << "  done\n\n"
      << "  # The value of an option.\n"
      << "  case \"$path|$prev\" in\n";
  out << "    '|--write-docs')\n"
      << "      compopt -o dirnames 2>/dev/null; COMPREPLY=($(compgen -d -- \"$cur\")); return 0 "
         ";;\n";
  ForEachCommand([&](const CommandRow& row, const std::string& path) {
    for (const ArgumentRow& arg : row.arguments) {
      if (arg.positional() || arg.kind == ValueKind::kFlag) continue;
      std::vector<std::string> patterns;
      for (const std::string& spelling : arg.Spellings()) {
        patterns.push_back(Quoted(path + "|" + spelling));
      }
      out << "    " << Join(patterns, "|") << ")\n      ";
      switch (arg.kind) {
        case ValueKind::kFile:
          out << "_mirel_tool_files \"$cur\"";
          break;
        case ValueKind::kOrder:
        case ValueKind::kFormat:
          out << "COMPREPLY=($(compgen -W " << Quoted(Join(ValueChoices(arg.kind)))
              << " -- \"$cur\"))";
          break;
        case ValueKind::kNumber:
          out << "COMPREPLY=($(compgen -W " << Quoted(Join(NumberChoices(arg))) << " -- \"$cur\"))";
          break;
        default:
          break;
      }
      out << "\n      return 0 ;;\n";
    }
  });
  out << "  esac\n\n"
      << "  local options=\"\" words=\"\" files=\"\"\n"
      << "  case \"$path\" in\n"
      << "    '')\n"
      << "      options='--help --version --write-docs'\n"
      << "      words=" << Quoted(Join(Names(ToolCommands()))) << " ;;\n";
  ForEachCommand([&](const CommandRow& row, const std::string& path) {
    std::vector<std::string> options = {"--help"};
    bool files = row.ownArguments;
    for (const ArgumentRow& arg : row.arguments) {
      if (arg.positional()) {
        files = files || arg.kind == ValueKind::kFile;
      } else {
        for (const std::string& spelling : arg.Spellings()) options.push_back(spelling);
      }
    }
    std::vector<std::string> words = Names(row.subcommands);
    if (path == "help") words = Names(ToolCommands());
    out << "    " << Quoted(path) << ")\n"
        << "      options=" << Quoted(Join(options)) << "\n";
    if (!words.empty()) out << "      words=" << Quoted(Join(words)) << "\n";
    if (files) out << "      files=1\n";
    out << "      ;;\n";
  });
  out << "  esac\n"
      << "  if [[ $cur == -* ]]; then\n"
      << "    COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
      << "  elif [[ -n $words ]]; then\n"
      << "    COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
      << "  elif [[ -n $files ]]; then\n"
      << "    _mirel_tool_files \"$cur\"\n"
      << "  fi\n"
      << "  return 0\n"
      << "}\n"
      << "complete -F _mirel_tool mirel-tool\n";
  return out.str();
}

std::string ZshCompletion() {
  std::ostringstream out;
  out << "#compdef mirel-tool\n"
      << "# zsh completion for mirel-tool, written by mirel-tool --write-docs.\n\n";
  // Children first is not needed: zsh resolves the names when called.
  ForEachCommand([&](const CommandRow& row, const std::string& path) {
    ZshFunction(out, row.subcommands, row.arguments, row.ownArguments, path, false);
  });
  ZshFunction(out, ToolCommands(), {}, false, "", true);
  out << "_mirel-tool \"$@\"\n";
  return out.str();
}

Status WriteCommandDocs(FileSystem& fs, const std::filesystem::path& folder) {
  const std::pair<const char*, std::string> files[] = {{"mirel-tool.1", ToolManPage()},
                                                       {"mirel-editor.1", EditorManPage()},
                                                       {"mirel-tool.bash", BashCompletion()},
                                                       {"_mirel-tool", ZshCompletion()}};
  for (const auto& [name, text] : files) {
    Status written = fs.WriteWhole(folder / name, std::as_bytes(std::span(text)));
    if (!written.IsOk()) return written;
  }
  return Status::Ok();
}

}  // namespace mirel
