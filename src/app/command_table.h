// mirel-tool's commands as data: each row names a command, says what it does,
// lists its arguments and options, its exit statuses and examples, and runs
// it. The option parser, --help, `mirel-tool help`, the manual pages and the
// shell completion are all built from these rows, so they cannot disagree.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace mirel {

struct ToolIo;

// What a value is, so that completion can offer the right words and the
// parser can refuse the wrong ones.
enum class ValueKind {
  kFile,    // a path
  kOrder,   // one of the --by orders
  kFormat,  // one of the --to/--from formats
  kNumber,  // an integer in [minimum, maximum]
  kText,    // anything
  kFlag,    // no value
};

struct ArgumentRow {
  // "TABLE" for a positional argument, "-o,--output" or "--by" for an option.
  std::string name;
  std::string valueName;  // options only: "FILE", "ORDER", ...
  std::string help;
  ValueKind kind = ValueKind::kFile;
  bool required = false;
  int maxCount = 1;  // more than one: the argument repeats
  std::string defaultValue;
  std::string excludes;          // the key of an option this one cannot go with
  int minimum = 0, maximum = 0;  // kNumber
  // Names the command's result: "-" writes it to standard output, and the
  // reports then go to standard error so that they never mix with it.
  bool result = false;

  bool positional() const { return !name.empty() && name[0] != '-'; }
  // The long name without dashes, or the positional name.
  std::string Key() const;
  // "-o", "--output": every spelling of an option.
  std::vector<std::string> Spellings() const;
};

// A required positional argument.
ArgumentRow PositionalArgument(std::string name, std::string help,
                               ValueKind kind = ValueKind::kFile);
ArgumentRow OptionArgument(std::string name, std::string valueName, std::string help,
                           ValueKind kind = ValueKind::kFile);
ArgumentRow FlagArgument(std::string name, std::string help);

struct ExitStatus {
  int code;
  std::string meaning;
};

// The values the parser found, by ArgumentRow::Key().
struct CommandArgs {
  std::map<std::string, std::vector<std::string>, std::less<>> values;
  std::map<std::string, bool, std::less<>> flags;
  // The arguments after the command name, for a command that reads them
  // itself.
  std::span<const std::string> raw;

  // The first value, the default when none was given, or "".
  const std::string& Get(std::string_view key) const;
  const std::vector<std::string>& All(std::string_view key) const;
  bool Flag(std::string_view key) const;
};

// What a running command reaches: its streams and files, and the one place
// where its messages are put into words.
class CommandContext {
 public:
  CommandContext(ToolIo& toolIo, std::string command) : io(toolIo), command_(std::move(command)) {}

  ToolIo& io;
  const std::string& command() const { return command_; }

  // A problem that does not stop the command, worded as failures are.
  void Warn(const Status& status) const;
  void Warn(const std::string& file, const std::string& what) const {
    Warn(Status::InvalidArgument(file, what));
  }
  // A usage error: the command line asks for something impossible (exit 2).
  Status Usage(const std::string& what) {
    usage_ = true;
    return Status::InvalidArgument("", what);
  }
  // An answer that is no failure but not success either (detect).
  void SetExitStatus(int status) { exitStatus_ = status; }

  // Prints a failure as "mirel-tool: COMMAND: FILE: what" and gives the exit
  // status: 1, 2 for a usage error, else what the command set.
  int Finish(const Status& status) const;

 private:
  std::string command_;
  bool usage_ = false;
  int exitStatus_ = 0;
};

// "1 row", "3 rows": a count with its noun, for the commands' reports.
std::string Counted(uint64_t n, std::string_view one, std::string_view many);

// Where a result went, as the reports name it: "standard output" for "-".
std::string OutputName(const std::filesystem::path& output);

using CommandRun = std::function<Status(const CommandArgs&, CommandContext&)>;

struct CommandRow {
  std::string name;
  std::string summary;  // one line
  std::vector<ArgumentRow> arguments;
  std::string notes;              // after the options: default outputs, line formats
  std::vector<ExitStatus> exits;  // empty: the common ones
  std::vector<std::string> examples;
  std::vector<CommandRow> subcommands;
  bool needsSubcommand = false;
  bool ownArguments = false;  // takes its arguments unparsed
  CommandRun run;
};

inline constexpr const char* kToolProgram = "mirel-tool";

// The rows, in the order --help lists them.
const std::vector<CommandRow>& ToolCommands();
// The exit statuses of a command that lists none of its own.
const std::vector<ExitStatus>& CommonExitStatuses();
// The words a value of this kind may take; empty when any will do.
std::vector<std::string> ValueChoices(ValueKind kind);
// The row named, or null; "installed export" finds a subcommand.
const CommandRow* FindCommand(std::string_view name);
// Calls visit(row, path) for every command and subcommand, parents first;
// the path is the words that run it ("installed export").
void ForEachCommand(const std::function<void(const CommandRow&, const std::string&)>& visit);

// The batch grammar's help text (mirel-tool batch --help), from the batch
// tool table.
std::string BatchHelpText();

}  // namespace mirel
