// The command table and what is built from it: help, the manual pages, the
// shell completion and the batch dispatcher.
#include "app/command_table.h"

#include <cstdio>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>

#include "app/batch.h"
#include "app/command_docs.h"
#include "app/editor_commands.h"
#include "app/tool_cli.h"
#include "platform/utf16.h"
#include "platform/version.h"
#include "support/test_support.h"

namespace mirel {
namespace {

using test::ScratchDir;

std::vector<std::string> Words(const std::string& path) {
  std::vector<std::string> words;
  std::istringstream in(path);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// Runs a shell command and gives its standard output.
std::string Capture(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

class CommandTableTest : public ::testing::Test {
 protected:
  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    args.insert(args.begin(), "mirel-tool");
    ToolIo io{out_, err_, test::DiskFs(), dir_.path(), dir_.path(), false, {}};
    return RunTool(args, io);
  }

  ScratchDir dir_;
  std::ostringstream out_, err_;
};

TEST_F(CommandTableTest, EveryCommandHasHelpThatListsEveryArgument) {
  ForEachCommand([&](const CommandRow& row, const std::string& path) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(row.summary.empty());
    EXPECT_EQ(row.summary.find('\n'), std::string::npos) << "a summary is one line";
    EXPECT_TRUE(row.run || !row.subcommands.empty());
    std::vector<std::string> args = Words(path);
    if (row.ownArguments) {
      args.push_back("--help");
      EXPECT_EQ(Run(args), 0);
      EXPECT_EQ(out_.str(), BatchHelpText());
      return;
    }
    args.push_back("--help");
    ASSERT_EQ(Run(args), 0) << err_.str();
    const std::string help = out_.str();
    EXPECT_TRUE(test::Holds(help, row.summary.substr(0, 30)));
    for (const ArgumentRow& arg : row.arguments) {
      EXPECT_FALSE(arg.help.empty()) << arg.name;
      if (arg.positional()) {
        EXPECT_TRUE(test::Holds(help, arg.name));
      } else {
        for (const std::string& spelling : arg.Spellings()) {
          EXPECT_TRUE(test::Holds(help, spelling));
        }
        if (!arg.valueName.empty()) {
          EXPECT_TRUE(test::Holds(help, arg.valueName));
        }
      }
    }
    for (const CommandRow& sub : row.subcommands) {
      EXPECT_TRUE(test::Holds(help, sub.name));
    }
    for (const std::string& example : row.examples) {
      EXPECT_TRUE(test::Holds(help, example));
    }
    // `help COMMAND` prints the same.
    std::vector<std::string> viaHelp = Words(path);
    viaHelp.insert(viaHelp.begin(), "help");
    EXPECT_EQ(Run(viaHelp), 0) << err_.str();
    EXPECT_EQ(out_.str(), help);
  });
  EXPECT_EQ(Run({"help"}), 0);
  for (const CommandRow& row : ToolCommands()) {
    EXPECT_TRUE(test::Holds(out_.str(), row.name));
  }
  EXPECT_TRUE(test::Holds(out_.str(), "--write-docs"));
  EXPECT_EQ(Run({"help", "nonsense"}), 2);
  EXPECT_EQ(err_.str().rfind("mirel-tool: help: unknown command \"nonsense\"", 0), 0u)
      << err_.str();
  EXPECT_EQ(Run({"--version"}), 0);
  EXPECT_EQ(out_.str(), std::string("mirel-tool ") + kVersion + "\n");
}

TEST_F(CommandTableTest, FailuresAndUsageErrorsAreWordedInOnePlace) {
  // A file that cannot be read is a failure; a request that cannot be met
  // as written is a usage error; both are one line naming the command.
  EXPECT_EQ(Run({"convert-rules", (dir_ / "missing.txt").string(), "--rules",
                 (dir_ / "no-rules.txt").string()}),
            1);
  EXPECT_EQ(err_.str().rfind("mirel-tool: convert-rules: ", 0), 0u) << err_.str();
  EXPECT_TRUE(test::Holds(err_.str(), "no-rules.txt"));
  EXPECT_EQ(Run({"convert-rules", (dir_ / "missing.txt").string()}), 2);
  EXPECT_EQ(err_.str(), "mirel-tool: convert-rules: give --rules FILE or at least one --rule\n");
  EXPECT_EQ(Run({"convert", (dir_ / "t.txt").string(), "--to", "nowhere"}), 2);
  EXPECT_TRUE(test::Holds(err_.str(), "unknown format \"nowhere\""));
  EXPECT_EQ(Run({"convert-layout", (dir_ / "t.txt").string(), "--layout", "4"}), 2);
  EXPECT_EQ(Run({"installed", "export"}), 2);  // its arguments are required
  EXPECT_EQ(Run({"linux"}), 2);                // a subcommand is
  EXPECT_EQ(Run({"--write-docs"}), 2);
  EXPECT_EQ(Run({"--write-docs", (dir_ / "no" / "such").string()}), 1);
  EXPECT_EQ(err_.str().rfind("mirel-tool: --write-docs: ", 0), 0u) << err_.str();
}

// The lines of a troff page that are neither text nor one of the requests
// the pages use; a stray one is swallowed or warned about by man.
std::vector<std::string> StrayControlLines(const std::string& page) {
  static const std::set<std::string> kRequests = {"TH", "SH", "SS", "PP", "TP", "IP", "B",  "BR",
                                                  "I",  "IR", "br", "nf", "fi", "RS", "RE", "\\\""};
  std::vector<std::string> stray;
  std::istringstream in(page);
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) {
      stray.push_back("(empty line)");
      continue;
    }
    if (line[0] == '\'') stray.push_back(line);
    if (line[0] != '.') continue;
    const std::string request = line.substr(1, line.find(' ') - 1);
    if (!kRequests.count(request)) stray.push_back(line);
  }
  return stray;
}

TEST_F(CommandTableTest, ManualPagesDescribeEveryCommandAndOptionAsValidTroff) {
  const std::string tool = ToolManPage();
  EXPECT_EQ(StrayControlLines(tool), std::vector<std::string>());
  ForEachCommand([&](const CommandRow& row, const std::string& path) {
    EXPECT_TRUE(test::Holds(tool, ".SS \"" + path + "\""));
    for (const ArgumentRow& arg : row.arguments) {
      for (const std::string& spelling : arg.Spellings()) {
        const std::string roff = std::regex_replace(spelling, std::regex("-"), "\\-");
        EXPECT_TRUE(test::Holds(tool, roff));
      }
    }
  });
  const std::string editor = EditorManPage();
  EXPECT_EQ(StrayControlLines(editor), std::vector<std::string>());
  for (const BatchToolRow& batchTool : BatchTools()) {
    EXPECT_TRUE(test::Holds(editor, Utf16ToUtf8(batchTool.name)));
    for (const BatchOptionRow& option : batchTool.options) {
      // Appended, not added: GCC 12 warns (-Wrestrict) about "/" + a temporary.
      std::string spelled = "/";
      spelled.append(Utf16ToUtf8(option.name)).append("=");
      EXPECT_TRUE(test::Holds(editor, spelled));
    }
  }
  // Every key the window binds, as a person writes it.
  for (const EditorCommand& c : EditorCommands()) {
    if (c.keys.empty()) continue;
    EXPECT_TRUE(
        test::Holds(editor, std::regex_replace(std::string(c.keyAction), std::regex("-"), "\\-")));
  }
  for (const char* shown : {"\n.B Insert\n", "\n.B Enter\n", "\n.B Ctrl+Y, Ctrl+Shift+Z\n"}) {
    EXPECT_TRUE(test::Holds(editor, shown));
  }
  // Help text that starts a line with a period or quote must not become a
  // request, and a backslash must not become an escape.
  EXPECT_EQ(tool.find("\n.wine"), std::string::npos);

  if (!test::HaveProgram("man")) GTEST_SKIP() << "no man to render the pages";
  ASSERT_TRUE(WriteCommandDocs(test::DiskFs(), dir_.path()).IsOk());
  for (const char* page : {"mirel-tool.1", "mirel-editor.1"}) {
    const std::string file = (dir_ / page).string();
    const std::string man = "MANWIDTH=80 LANG=C.UTF-8 man ";
    EXPECT_EQ(Capture(man + "--warnings -l '" + file + "' 2>&1 >/dev/null"), "") << page;
    EXPECT_TRUE(test::Holds(Capture(man + "-l '" + file + "' 2>/dev/null"), "dedup"));
  }
}

class CompletionTest : public CommandTableTest {
 protected:
  CompletionTest() {
    std::ofstream(dir_ / "mirel-tool.bash") << BashCompletion();
    std::ofstream(dir_ / "_mirel-tool") << ZshCompletion();
    std::ofstream(dir_ / "t.txt") << "a\tb\n";
  }
  // The words offered for the command line, the last word being completed.
  std::set<std::string> Offered(std::vector<std::string> words) {
    std::string array;
    for (const std::string& word : words) array += " '" + word + "'";
    const std::string script = "cd '" + dir_.path().string() + "' && . ./mirel-tool.bash && " +
                               "complete -p mirel-tool >/dev/null && COMP_WORDS=(" + array +
                               ") && COMP_CWORD=" + std::to_string(words.size() - 1) +
                               " && _mirel_tool mirel-tool \"${COMP_WORDS[COMP_CWORD]}\" " +
                               "\"${COMP_WORDS[COMP_CWORD-1]}\" && printf '%s\\n' " +
                               "\"${COMPREPLY[@]}\"";
    std::set<std::string> offered;
    std::istringstream in(Capture("bash -c \"$(cat <<'EOF'\n" + script + "\nEOF\n)\""));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty()) offered.insert(line);
    }
    return offered;
  }
};

TEST_F(CompletionTest, BashOffersCommandsOptionsOrdersFormatsAndFiles) {
  if (!test::HaveProgram("bash")) GTEST_SKIP() << "no bash";
  EXPECT_EQ(Offered({"mirel-tool", "de"}), (std::set<std::string>{"dedup", "decompile", "detect"}));
  EXPECT_EQ(Offered({"mirel-tool", "sort", "t.txt", "--by", ""}),
            (std::set<std::string>{"source", "code1", "code2", "entry1", "entry2", "freq"}));
  EXPECT_EQ(Offered({"mirel-tool", "sort", "t.txt", "--"}),
            (std::set<std::string>{"--by", "--freq", "--output", "--help"}));
  const std::set<std::string> formats = Offered({"mirel-tool", "convert", "t.txt", "--to", "f"});
  EXPECT_TRUE(formats.count("fcitx5")) << formats.size();
  EXPECT_FALSE(formats.count("win"));
  EXPECT_EQ(Offered({"mirel-tool", "installed", ""}), (std::set<std::string>{"export", "compile"}));
  EXPECT_EQ(Offered({"mirel-tool", "help", "ex"}),
            (std::set<std::string>{"extract-single", "export-frequency"}));
  EXPECT_EQ(Offered({"mirel-tool", "linux", "install", "--r"}),
            (std::set<std::string>{"--reload"}));
  EXPECT_EQ(Offered({"mirel-tool", "dedup", "t."}), (std::set<std::string>{"t.txt"}));
  EXPECT_EQ(Offered({"mirel-tool", "dedup", "t.txt", "-o", "t.t"}),
            (std::set<std::string>{"t.txt"}));
  EXPECT_EQ(Offered({"mirel-tool", "convert-layout", "t.txt", "--layout", ""}),
            (std::set<std::string>{"1", "2", "3"}));
  // A file argument that happens to be named like a command is no command.
  EXPECT_EQ(Offered({"mirel-tool", "dedup", "sort", "--b"}), (std::set<std::string>{}));
}

TEST_F(CompletionTest, ZshScriptParses) {
  if (!test::HaveProgram("zsh")) GTEST_SKIP() << "no zsh";
  EXPECT_EQ(ZshCompletion().rfind("#compdef mirel-tool\n", 0), 0u);
  EXPECT_EQ(std::system(("zsh -n '" + (dir_ / "_mirel-tool").string() + "'").c_str()), 0);
}

TEST(BatchToolTableTest, TheDispatcherFindsEveryToolThroughTheTable) {
  ScratchDir dir;
  std::ostringstream err;
  BatchEnvironment env{dir.path(), dir.path(), err, test::DiskFs(), "mirel", false};
  std::set<std::u16string_view> grammar(BatchOptionNames().begin(), BatchOptionNames().end());
  for (const BatchToolRow& tool : BatchTools()) {
    SCOPED_TRACE(Utf16ToUtf8(tool.name));
    EXPECT_EQ(FindBatchTool(tool.name), &tool);
    // Every option a tool reads is one the grammar collects.
    for (const BatchOptionRow& option : tool.options) {
      EXPECT_TRUE(grammar.count(option.name)) << Utf16ToUtf8(option.name);
    }
    EXPECT_TRUE(test::Holds(BatchHelpText(), Utf16ToUtf8(tool.name)));
  }
  // Each tool runs its own engine: with no files named, each fails in its
  // own name instead of another tool's.
  for (const BatchToolRow& tool : BatchTools()) {
    err.str("");
    const std::optional<BatchRequest> request = ParseBatchLine(u"/do=" + std::u16string(tool.name));
    ASSERT_TRUE(request);
    EXPECT_EQ(RunBatch(*request, env), 1) << err.str();
    EXPECT_EQ(err.str().rfind("mirel: " + Utf16ToUtf8(tool.name) + ": ", 0), 0u) << err.str();
  }
  err.str("");
  EXPECT_EQ(RunBatch(*ParseBatchLine(u"/do=其他"), env), 2);
  EXPECT_TRUE(test::Holds(err.str(), "unknown tool \"其他\""));
  for (const BatchToolRow& tool : BatchTools()) {
    EXPECT_TRUE(test::Holds(err.str(), Utf16ToUtf8(tool.name)));
  }
}

}  // namespace
}  // namespace mirel
