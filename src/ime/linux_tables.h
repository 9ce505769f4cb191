// The tables the Linux input methods use on this machine, found in the XDG
// folders: fcitx5's table input methods (the .conf files of its inputmethod
// folders and the dictionaries they name), Rime's dictionaries (the shared
// data folder and the user folders of fcitx5-rime and ibus-rime) and
// ibus-table's databases (system and user table folders).
//
// A user copy is a table in a user folder; the input method takes it in
// preference to a system table of the same name. Installing writes only
// user folders, atomically, through the FileSystem it is given; folders of
// the system are never written. Running the input method's own reload step
// is left to the caller (LinuxReloadCommand), since it starts programs.
//
// Pure lookups over the FileSystem passed in; nothing is cached.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "convert/linux_formats.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/status.h"

namespace mirel {

struct LinuxEnvironment {
  std::filesystem::path dataHome;               // $XDG_DATA_HOME, else ~/.local/share
  std::filesystem::path configHome;             // $XDG_CONFIG_HOME, else ~/.config
  std::vector<std::filesystem::path> dataDirs;  // $XDG_DATA_DIRS, else /usr/local/share:/usr/share

  // From the process environment; a variable set to the empty string counts
  // as unset, as the XDG rules say.
  static LinuxEnvironment FromProcess();
};

enum class LinuxIme { kFcitx5, kRime, kIbusTable };
std::string_view ImeName(LinuxIme ime);  // fcitx5, rime, ibus-table

struct LinuxTableInfo {
  std::string name;  // "fcitx5:cns11643", "rime:stroke", "ibus-table:quick5"
  LinuxIme ime = LinuxIme::kFcitx5;
  linux_table::LinuxFormat format = linux_table::LinuxFormat::kFcitxText;
  std::filesystem::path path;        // what the input method loads now
  std::filesystem::path systemPath;  // the system table of that name, if any
  std::filesystem::path userPath;    // where a user copy goes (first of them)
  // Rime: every user folder that exists gets the copy (fcitx5-rime and
  // ibus-rime each read their own).
  std::vector<std::filesystem::path> userPaths;
  // fcitx5: the input method's configuration as found, and where a user
  // configuration goes when the system one names its table by an absolute
  // path (the user copy then needs a configuration pointing at it).
  std::filesystem::path conf;
  std::filesystem::path userConf;
  // The folders the table was found with; installing writes only within
  // its user folders.
  LinuxEnvironment environment;
  bool user = false;       // `path` is a user copy
  bool overrides = false;  // ... and a system table of that name exists
  int64_t rows = -1;       // -1: not counted or unreadable
  Status readError;        // why the rows could not be counted, when they were asked for
};

// Every table found, sorted by name. Row counts are filled when `countRows`.
Result<std::vector<LinuxTableInfo>> ListLinuxTables(FileSystem& fs, const LinuxEnvironment& env,
                                                    bool countRows);

// Finds a table by its full name or, when unambiguous, by the part after
// the colon.
Result<LinuxTableInfo> FindLinuxTable(FileSystem& fs, const LinuxEnvironment& env,
                                      std::string_view name);

// What the input method needs to take a new user copy.
std::string LinuxReloadAdvice(const LinuxTableInfo& table);
// The command that does it, when there is one (empty when none); argv form.
// Rime's shared data is looked for through `fs`.
std::vector<std::string> LinuxReloadCommand(FileSystem& fs, const LinuxTableInfo& table,
                                            const LinuxEnvironment& env);

// The limits ibus-table-createdb and the reload commands run under.
ChildLimits LinuxProgramLimits(uint64_t sourceBytes);

// What a new ibus-table database is built with: the runner that starts
// ibus-table-createdb, and the private folder (platform/temp_folder.h) the
// source and the new database are made in, away from the user's tables.
struct IbusBuild {
  ProcessRunner& runner;
  std::filesystem::path scratch;
};

// Refuses, naming it, a path that once resolved (links followed, ".."
// taken) lies outside the user's data and config folders, or within a
// system data folder, which is how a link or a "File=../.." would lead a
// write out of the user's own files.
Status CheckUserPath(FileSystem& fs, const LinuxEnvironment& env,
                     const std::filesystem::path& path);

// Writes `table` (any format; converted to the installed table's) as the
// user copy of `target`, into every user path. Every path is checked with
// CheckUserPath against `target.environment` before anything is written. A new ibus-table database
// is built by ibus-table-createdb in `build`'s folder (without one: the real runner and the private
// folder under $TMPDIR) and put in place with an atomic replace; a failed, timed-out or interrupted
// build leaves the user's folder as it was. Rows the target's format cannot hold are reported in
// `diagnostics`.
Status InstallLinuxTable(FileSystem& fs, const LinuxTableInfo& target,
                         const linux_table::LinuxTable& table,
                         std::vector<linux_table::Diagnostic>& diagnostics,
                         const IbusBuild* build = nullptr);

}  // namespace mirel
