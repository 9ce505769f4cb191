#include "ime/linux_tables.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "platform/lines.h"
#include "platform/messages.h"
#include "platform/signal_cleanup.h"
#include "platform/temp_folder.h"

namespace mirel {
namespace {

using linux_table::LinuxFormat;
namespace fs = std::filesystem;

std::filesystem::path EnvPath(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? fs::path(value) : fs::path();
}

bool Exists(FileSystem& files, const fs::path& path, PathKind kind) {
  Result<PathInfo> info = files.Query(path);
  return info.IsOk() && info->kind == kind;
}

std::vector<fs::path> List(FileSystem& files, const fs::path& folder) {
  Result<std::vector<fs::path>> names = files.ListFolder(folder);
  return names.IsOk() ? names.value() : std::vector<fs::path>();
}

bool EndsWith(const std::string& s, std::string_view suffix) { return s.ends_with(suffix); }

// The table file a fcitx5 input method configuration names ([Table] File=).
std::string ConfTableFile(std::string_view conf) {
  bool table = false;
  ByteLineReader lines(conf, {.breaks = LineBreaks::kLf});
  std::string_view line;
  while (lines.Next(line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    if (line.starts_with('[')) {
      table = line == "[Table]";
      continue;
    }
    if (table && line.starts_with("File=")) return std::string(line.substr(5));
  }
  return {};
}

struct Found {
  LinuxTableInfo info;
  bool haveSystem = false;
};

void Add(std::map<std::string, Found>& found, const std::string& name, LinuxIme ime,
         LinuxFormat format, const fs::path& path, bool user) {
  Found& f = found[name];
  f.info.name = name;
  f.info.ime = ime;
  if (user) {
    if (!f.info.user) {
      f.info.user = true;
      f.info.path = path;
      f.info.format = format;
    }
  } else if (!f.haveSystem) {
    // The first system folder in XDG_DATA_DIRS wins.
    f.haveSystem = true;
    f.info.systemPath = path;
    if (!f.info.user) {
      f.info.path = path;
      f.info.format = format;
    }
  }
}

// `path` is `root` or lies below it; both resolved.
bool Within(const fs::path& path, const fs::path& root) {
  const std::string& p = path.native();
  const std::string& r = root.native();
  if (!p.starts_with(r)) return false;
  return p.size() == r.size() || r.ends_with('/') || p[r.size()] == '/';
}

// A relative File= that climbs out of the fcitx5 folder ("../../x") would
// make the user copy land wherever it points.
bool LeavesFolder(const fs::path& relative) {
  const fs::path normal = relative.lexically_normal();
  return normal.empty() || *normal.begin() == "..";
}

std::vector<fs::path> RimeUserFolders(const LinuxEnvironment& env) {
  return {env.dataHome / "fcitx5" / "rime", env.configHome / "ibus" / "rime"};
}

}  // namespace

LinuxEnvironment LinuxEnvironment::FromProcess() {
  LinuxEnvironment env;
  const fs::path home = EnvPath("HOME");
  env.dataHome = EnvPath("XDG_DATA_HOME");
  if (env.dataHome.empty()) env.dataHome = home / ".local" / "share";
  env.configHome = EnvPath("XDG_CONFIG_HOME");
  if (env.configHome.empty()) env.configHome = home / ".config";
  const char* dirs = std::getenv("XDG_DATA_DIRS");
  std::string_view list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
  while (!list.empty()) {
    const size_t colon = list.find(':');
    if (colon != 0) env.dataDirs.emplace_back(std::string(list.substr(0, colon)));
    list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
  }
  return env;
}

ChildLimits LinuxProgramLimits(uint64_t sourceBytes) {
  // ibus-table-createdb takes seconds for Debian's tables; a hung build or
  // reload must not hold the program for ever.
  constexpr uint64_t kMiB = uint64_t{1} << 20;
  ChildLimits limits;
  limits.cpuSeconds = std::min(120.0 + 30.0 * static_cast<double>(sourceBytes) / kMiB, 3600.0);
  limits.wallSeconds = limits.cpuSeconds;
  limits.fileBytes = std::min(256 * kMiB + 64 * sourceBytes, uint64_t{16} << 30);
  limits.outputBytes = 16 * kMiB;
  return limits;
}

std::string_view ImeName(LinuxIme ime) {
  switch (ime) {
    case LinuxIme::kFcitx5:
      return "fcitx5";
    case LinuxIme::kRime:
      return "rime";
    case LinuxIme::kIbusTable:
      return "ibus-table";
  }
  return "";
}

Result<std::vector<LinuxTableInfo>> ListLinuxTables(FileSystem& files, const LinuxEnvironment& env,
                                                    bool countRows) {
  std::map<std::string, Found> found;
  // The user folder first, then the system folders in order.
  std::vector<std::pair<fs::path, bool>> dataRoots = {{env.dataHome, true}};
  for (const fs::path& dir : env.dataDirs) dataRoots.emplace_back(dir, false);

  for (const auto& [root, user] : dataRoots) {
    // fcitx5: each configuration of a table input method names its table.
    const fs::path confs = root / "fcitx5" / "inputmethod";
    for (const fs::path& name : List(files, confs)) {
      if (name.extension() != ".conf") continue;
      Result<std::string> conf = files.ReadWhole(confs / name, 1 << 20);
      if (!conf.IsOk()) continue;
      const std::string file = ConfTableFile(conf.value());
      if (file.empty()) continue;
      if (!fs::path(file).is_absolute() && LeavesFolder(file)) continue;
      const std::string tableName = "fcitx5:" + name.stem().string();
      const LinuxFormat format =
          EndsWith(file, ".main.dict") ? LinuxFormat::kFcitxBinary : LinuxFormat::kFcitxText;
      // The table file is looked up like the configuration: user first.
      if (fs::path(file).is_absolute()) {
        if (Exists(files, file, PathKind::kRegular)) {
          Add(found, tableName, LinuxIme::kFcitx5, format, file, user);
        }
      } else {
        for (const auto& [tableRoot, tableUser] : dataRoots) {
          const fs::path candidate = tableRoot / "fcitx5" / file;
          if (!Exists(files, candidate, PathKind::kRegular)) continue;
          Add(found, tableName, LinuxIme::kFcitx5, format, candidate, tableUser);
        }
      }
      Found& f = found[tableName];
      f.info.name = tableName;
      f.info.ime = LinuxIme::kFcitx5;
      if (f.info.path.empty()) f.info.format = format;
      if (f.info.conf.empty()) {
        f.info.conf = confs / name;
        if (fs::path(file).is_absolute()) {
          // The user copy goes into the user's table folder, and a user
          // configuration (taking precedence) points at it.
          f.info.userPath = env.dataHome / "fcitx5" / "table" / fs::path(file).filename();
          if (!user) f.info.userConf = env.dataHome / "fcitx5" / "inputmethod" / name;
        } else {
          f.info.userPath = env.dataHome / "fcitx5" / file;
        }
        f.info.userPaths = {f.info.userPath};
      }
    }
    // ibus-table databases.
    const fs::path tables = root / "ibus-table" / "tables";
    for (const fs::path& name : List(files, tables)) {
      if (name.extension() != ".db" || !Exists(files, tables / name, PathKind::kRegular)) continue;
      const std::string tableName = "ibus-table:" + name.stem().string();
      Add(found, tableName, LinuxIme::kIbusTable, LinuxFormat::kIbusDatabase, tables / name, user);
      found[tableName].info.userPath = env.dataHome / "ibus-table" / "tables" / name;
      found[tableName].info.userPaths = {found[tableName].info.userPath};
    }
  }
  // Rime: the user folders of both front ends, then the shared data.
  std::vector<std::pair<fs::path, bool>> rimeRoots;
  for (const fs::path& folder : RimeUserFolders(env)) rimeRoots.emplace_back(folder, true);
  for (const fs::path& dir : env.dataDirs) rimeRoots.emplace_back(dir / "rime-data", false);
  for (const auto& [root, user] : rimeRoots) {
    for (const fs::path& name : List(files, root)) {
      const std::string file = name.string();
      // A device or FIFO under a table's name is no table, and would be
      // read without end when rows are counted.
      if (!EndsWith(file, ".dict.yaml") || !Exists(files, root / name, PathKind::kRegular)) {
        continue;
      }
      const std::string tableName = "rime:" + file.substr(0, file.size() - 10);
      Add(found, tableName, LinuxIme::kRime, LinuxFormat::kRime, root / name, user);
    }
  }
  std::vector<LinuxTableInfo> out;
  for (auto& [name, f] : found) {
    if (f.info.path.empty()) continue;  // a configuration whose table is missing
    if (f.info.ime == LinuxIme::kRime) {
      const std::string file = name.substr(5) + ".dict.yaml";
      std::vector<fs::path> existing;
      for (const fs::path& folder : RimeUserFolders(env)) {
        if (Exists(files, folder, PathKind::kFolder)) existing.push_back(folder / file);
      }
      if (existing.empty()) existing.push_back(RimeUserFolders(env).front() / file);
      f.info.userPaths = existing;
      f.info.userPath = existing.front();
    }
    f.info.overrides = f.info.user && f.haveSystem;
    f.info.environment = env;
    if (countRows) {
      Result<linux_table::ReadResult> read =
          linux_table::ReadLinuxTable(files, f.info.path, f.info.format);
      if (read.IsOk()) {
        f.info.rows = static_cast<int64_t>(read->table.rows.size());
      } else {
        f.info.readError = read.status();
      }
    }
    out.push_back(std::move(f.info));
  }
  return out;
}

Result<LinuxTableInfo> FindLinuxTable(FileSystem& files, const LinuxEnvironment& env,
                                      std::string_view name) {
  Result<std::vector<LinuxTableInfo>> tables = ListLinuxTables(files, env, false);
  if (!tables.IsOk()) return tables.status();
  std::vector<const LinuxTableInfo*> matches;
  for (const LinuxTableInfo& t : tables.value()) {
    if (t.name == name) return t;
    const size_t colon = t.name.find(':');
    if (t.name.substr(colon + 1) == name) matches.push_back(&t);
  }
  if (matches.size() == 1) return *matches.front();
  if (matches.empty()) {
    return Status::InvalidArgument(std::string(name),
                                   Tr("no table of fcitx5, Rime or ibus-table has this name (see "
                                      "'mirel-tool linux list')"));
  }
  std::string names;
  for (const LinuxTableInfo* t : matches) names += (names.empty() ? "" : ", ") + t->name;
  return Status::InvalidArgument(std::string(name),
                                 Tr("more than one table has this name: {1}", names));
}

std::string LinuxReloadAdvice(const LinuxTableInfo& table) {
  switch (table.ime) {
    case LinuxIme::kFcitx5:
      return Tr("fcitx5 loads the user copy when it restarts or reloads (fcitx5-remote -r)");
    case LinuxIme::kRime:
      return Tr(
          "Rime loads the user copy after a redeploy (the 重新部署 menu item, or "
          "rime_deployer --build on the user folder)");
    case LinuxIme::kIbusTable:
      return Tr("ibus-table loads the user copy when ibus restarts (ibus restart)");
  }
  return {};
}

std::vector<std::string> LinuxReloadCommand(FileSystem& files, const LinuxTableInfo& table,
                                            const LinuxEnvironment& env) {
  switch (table.ime) {
    case LinuxIme::kFcitx5:
      return {"fcitx5-remote", "-r"};
    case LinuxIme::kRime: {
      const fs::path folder = table.userPath.parent_path();
      fs::path shared = "/usr/share/rime-data";
      for (const fs::path& dir : env.dataDirs) {
        if (Exists(files, dir / "rime-data", PathKind::kFolder)) {
          shared = dir / "rime-data";
          break;
        }
      }
      return {"rime_deployer", "--build", folder.string(), shared.string(),
              (folder / "build").string()};
    }
    case LinuxIme::kIbusTable:
      return {"ibus", "restart"};
  }
  return {};
}

Status CheckUserPath(FileSystem& files, const LinuxEnvironment& env, const fs::path& path) {
  Result<fs::path> resolved = files.Resolve(path);
  if (!resolved.IsOk()) return resolved.status();
  const fs::path& where = resolved.value();
  std::vector<fs::path> userRoots;
  for (const fs::path& root : {env.dataHome, env.configHome}) {
    if (root.empty()) continue;
    Result<fs::path> r = files.Resolve(root);
    if (!r.IsOk()) return r.status();
    userRoots.push_back(std::move(r).value());
  }
  const std::string shown =
      path.string() + (where == path ? std::string() : " (resolved: " + where.string() + ")");
  // The deepest folder holding the path decides: a system folder inside the
  // user's (a flatpak export) is still the system's, and one that is the
  // user's own folder listed again in XDG_DATA_DIRS is still the user's.
  const fs::path* inUser = nullptr;
  for (const fs::path& root : userRoots) {
    if (where != root && Within(where, root) &&
        (!inUser || root.native().size() > inUser->native().size())) {
      inUser = &root;
    }
  }
  for (const fs::path& dir : env.dataDirs) {
    Result<fs::path> r = files.Resolve(dir);
    if (!r.IsOk()) return r.status();
    const fs::path& root = r.value();
    if (std::find(userRoots.begin(), userRoots.end(), root) != userRoots.end()) continue;
    if (Within(where, root) && (!inUser || root.native().size() >= inUser->native().size())) {
      return Status::InvalidArgument(
          shown, Tr("lies in the system folder {1}; only the user's own folders are written",
                    dir.string()));
    }
  }
  if (!inUser) {
    return Status::InvalidArgument(shown, Tr("lies outside the user's folders ($XDG_DATA_HOME, "
                                             "$XDG_CONFIG_HOME); only those are written"));
  }
  return Status::Ok();
}

namespace {

// ibus-table builds its database itself. The source and the new database
// are made in the private folder, where ibus never looks, and the result is
// copied over the user's table atomically: ibus never sees half a database,
// and an interrupted build leaves nothing in the user's folder.
Status BuildIbusDatabase(FileSystem& files, const fs::path& path,
                         const linux_table::LinuxTable& converted, const IbusBuild* build) {
  std::unique_ptr<TempFolder> ownFolder;
  std::unique_ptr<ProcessRunner> ownRunner;
  if (build == nullptr) {
    Result<std::unique_ptr<TempFolder>> opened = TempFolder::Open();
    if (!opened.IsOk()) return opened.status();
    ownFolder = std::move(opened.value());
    ownRunner = NewPosixProcessRunner();
  }
  ProcessRunner& runner = build ? build->runner : *ownRunner;
  const fs::path scratch = build ? build->scratch : ownFolder->folder();
  const std::string stem = "ibus-" + path.stem().string();
  const fs::path source = scratch / (stem + "-source.txt");
  const fs::path built = scratch / (stem + "-new.db");
  // A signal while the tool runs removes both; the tool itself is killed.
  const TrackedTempFile trackSource(source), trackBuilt(built);
  struct Cleanup {
    FileSystem& files;
    const fs::path& source;
    const fs::path& built;
    ~Cleanup() {
      (void)files.Remove(source);
      (void)files.Remove(built);
    }
  } cleanup{files, source, built};
  (void)files.Remove(built);
  if (Status s = linux_table::WriteLinuxTable(files, source, converted); !s.IsOk()) return s;
  Result<PathInfo> sourceInfo = files.Query(source);
  const ChildLimits limits = LinuxProgramLimits(sourceInfo.IsOk() ? sourceInfo->size : 0);
  Result<ChildOutcome> ran = runner.RunProgram(
      {"ibus-table-createdb", "-n", built.string(), "-s", source.string()}, limits);
  if (!ran.IsOk()) return Status::IoError(path.string(), ran.status().message());
  if (ran->end != ChildOutcome::End::kFinished) {
    return Status::IoError(path.string(),
                           "ibus-table-createdb " + DescribeChildEnd(ran.value(), limits));
  }
  if (ran->exitCode != 0) {
    return Status::IoError(path.string(), ran->exitCode == 127
                                              ? "ibus-table-createdb could not be run"
                                              : "ibus-table-createdb failed on the table");
  }
  return files.CopyFile(built, path);
}

}  // namespace

Status InstallLinuxTable(FileSystem& files, const LinuxTableInfo& target,
                         const linux_table::LinuxTable& table,
                         std::vector<linux_table::Diagnostic>& diagnostics,
                         const IbusBuild* build) {
  if (target.userPaths.empty()) {
    return Status::InvalidArgument(target.name, Tr("the table has no user folder to go to"));
  }
  // Every destination is checked before the first is written, so that a
  // refusal leaves nothing half installed.
  for (const fs::path& path : target.userPaths) {
    if (Status s = CheckUserPath(files, target.environment, path); !s.IsOk()) return s;
  }
  if (!target.userConf.empty()) {
    if (Status s = CheckUserPath(files, target.environment, target.userConf); !s.IsOk()) return s;
  }
  // Even within one format the rows pass the target's checks, so that a row
  // the input method would drop is reported here instead.
  const LinuxFormat wanted = target.format;
  linux_table::LinuxTable converted = linux_table::ConvertTable(table, wanted, diagnostics);
  if (converted.rows.empty()) {
    return Status::InvalidArgument(target.name, Tr("no row can be written in its format"));
  }
  for (const fs::path& path : target.userPaths) {
    if (Status s = files.CreateFolders(path.parent_path()); !s.IsOk()) return s;
    if (wanted != LinuxFormat::kIbusDatabase) {
      linux_table::SetRimeName(converted, linux_table::RimeNameOf(path));
      if (Status s = linux_table::WriteLinuxTable(files, path, converted); !s.IsOk()) return s;
      continue;
    }
    if (Status s = BuildIbusDatabase(files, path, converted, build); !s.IsOk()) return s;
  }
  // The configuration last, so that it never points at a table not yet there.
  if (!target.userConf.empty()) {
    Result<std::string> conf = files.ReadWhole(target.conf, 1 << 20);
    if (!conf.IsOk()) return conf.status();
    std::string text;
    bool inTable = false;
    ByteLineReader lines(conf.value(), {.breaks = LineBreaks::kLf});
    std::string_view view;
    while (lines.Next(view)) {
      std::string line(view);
      if (line.starts_with('[')) inTable = line.starts_with("[Table]");
      if (inTable && line.starts_with("File=")) {
        line = "File=table/" + target.userPath.filename().string();
      }
      text += line + "\n";
    }
    if (Status s = files.CreateFolders(target.userConf.parent_path()); !s.IsOk()) return s;
    if (Status s =
            files.WriteWhole(target.userConf, std::as_bytes(std::span(text.data(), text.size())));
        !s.IsOk()) {
      return s;
    }
  }
  return Status::Ok();
}

}  // namespace mirel
