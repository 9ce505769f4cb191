// Helpers of the tests of the Linux formats: rows as "entry|code" in the
// order a table offers them, editor rows from "entry\tcode" lines, and
// librime asked what it offers for our dictionaries.
#pragma once

#include <rime_api.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "convert/linux_formats.h"
#include "platform/utf16.h"
#include "support/test_support.h"

namespace mirel::test {

inline std::vector<std::string> Listed(const std::vector<linux_table::MirelRow>& rows) {
  std::vector<std::string> out;
  for (const linux_table::MirelRow& row : rows) {
    out.push_back(Utf16ToUtf8(row.entry) + "|" + Utf16ToUtf8(row.code));
  }
  return out;
}

inline std::vector<std::string> Offered(const linux_table::LinuxTable& table) {
  const std::u16string text = linux_table::ToMirelText(table);
  return Listed(linux_table::SplitMirelText(text));
}

// Owns the text its rows view, so it is neither copied nor moved.
struct EditorRows {
  std::vector<std::u16string> lines;
  std::vector<linux_table::MirelRow> rows;
  explicit EditorRows(std::initializer_list<std::u16string_view> list)
      : lines(list.begin(), list.end()) {
    for (const std::u16string& line : lines) {
      const size_t tab = line.find(u'\t');
      rows.push_back(
          {std::u16string_view(line).substr(0, tab), std::u16string_view(line).substr(tab + 1)});
    }
  }
  EditorRows(const EditorRows&) = delete;
  EditorRows& operator=(const EditorRows&) = delete;
};

inline Result<linux_table::ReadResult> ReadText(linux_table::LinuxFormat format,
                                                std::string_view bytes) {
  using F = linux_table::LinuxFormat;
  return format == F::kFcitxText ? linux_table::ReadFcitxText(bytes)
         : format == F::kRime    ? linux_table::ReadRime(bytes)
                                 : linux_table::ReadIbusSource(bytes);
}

// Debian's tables in these folders with these suffixes, smallest first.
inline std::vector<std::filesystem::path> DebianTables(
    const std::vector<std::pair<const char*, const char*>>& places) {
  std::vector<std::filesystem::path> found;
  for (const auto& [folder, suffix] : places) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
      if (e.path().string().ends_with(suffix)) found.push_back(e.path());
    }
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return std::filesystem::file_size(a) < std::filesystem::file_size(b);
  });
  return found;
}

// Runs a command line built from our own scratch paths.
inline int RunShell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

// Compiles <name>.dict.yaml in `dir` with a schema "sample" that uses it;
// the exit status of rime_deployer.
inline int CompileRime(const ScratchDir& dir, const std::string& name) {
  WriteBytes(dir / "sample.schema.yaml",
             "schema:\n  schema_id: sample\n  name: sample\n  version: \"1\"\nengine:\n"
             "  processors: [speller, selector]\n  segmentors: [abc_segmentor]\n"
             "  translators: [table_translator]\nspeller:\n  alphabet: abcdefghijklmnopqrstuvwxyz\n"
             "menu:\n  page_size: 100\ntranslator:\n  dictionary: " +
                 name +
                 "\n  enable_completion: false\n  enable_user_dict: false\n"
                 "  enable_sentence: false\n  enable_encoder: false\n");
  std::filesystem::remove_all(dir / "build");
  const std::string folder = dir.path().string();
  return RunShell("cd " + folder + " && rime_deployer --compile sample.schema.yaml " + folder +
                  " " + folder + " " + (dir / "build").string());
}

// The candidates librime offers for `codes` from dictionary `name` in `dir`.
// librime sets its logging up once per process, so it runs in a child.
inline std::map<std::string, std::vector<std::string>> OfferedByRime(
    const ScratchDir& dir, const std::string& name, const std::vector<std::string>& codes) {
  EXPECT_EQ(CompileRime(dir, name), 0);
  const std::string folder = dir.path().string();
  const std::filesystem::path answer = dir / "offered.txt";
  std::filesystem::remove(answer);
  const pid_t child = fork();
  if (child == 0) {
    RimeApi* rime = rime_get_api();
    RIME_STRUCT(RimeTraits, traits);
    traits.shared_data_dir = folder.c_str();
    traits.user_data_dir = folder.c_str();
    traits.app_name = "rime.mirel-test";
    traits.min_log_level = 3;
    rime->setup(&traits);
    rime->initialize(&traits);
    const RimeSessionId lookup = rime->create_session();
    std::string out;
    if (rime->select_schema(lookup, "sample")) {
      for (const std::string& code : codes) {
        rime->clear_composition(lookup);
        rime->simulate_key_sequence(lookup, code.c_str());
        out += code;
        RimeCandidateListIterator it = {};
        if (rime->candidate_list_begin(lookup, &it)) {
          while (rime->candidate_list_next(&it)) out += std::string("\t") + it.candidate.text;
          rime->candidate_list_end(&it);
        }
        out += '\n';
      }
    }
    rime->destroy_session(lookup);
    rime->finalize();
    WriteBytes(answer, out);
    _exit(0);
  }
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::map<std::string, std::vector<std::string>> offered;
  std::istringstream lines(std::filesystem::exists(answer) ? ReadBytes(answer) : std::string());
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string code, word;
    std::getline(fields, code, '\t');
    while (std::getline(fields, word, '\t')) offered[code].push_back(word);
  }
  return offered;
}

}  // namespace mirel::test
