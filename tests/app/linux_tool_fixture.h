// mirel-tool run over a fake home ($XDG_DATA_HOME, $XDG_CONFIG_HOME) and a
// fake system folder ($XDG_DATA_DIRS) made per test.
#pragma once

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/tool_cli.h"
#include "ime/linux_tables.h"
#include "support/test_support.h"

namespace mirel::test {

// Every file under a folder with its bytes.
inline std::map<std::string, std::string> Snapshot(const std::filesystem::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) files[e.path().string()] = ReadBytes(e.path());
  }
  return files;
}

// Writes `bytes` to `path`, making its folders first.
inline void Put(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::create_directories(path.parent_path());
  WriteBytes(path, bytes);
}

class LinuxToolTest : public ::testing::Test {
 protected:
  LinuxToolTest() {
    env_.dataHome = dir_ / "home/.local/share";
    env_.configHome = dir_ / "home/.config";
    env_.dataDirs = {sys()};
  }

  std::filesystem::path sys() const { return dir_ / "sys"; }
  std::string At(std::string_view name) const { return (dir_ / name).string(); }

  int Run(std::vector<std::string> args, FileSystem& files = DiskFs()) {
    out_.str("");
    err_.str("");
    args.insert(args.begin(), "mirel-tool");
    ToolIo io{out_, err_, files, dir_.path(), temp_.path(), false, {}};
    io.linuxTables = env_;
    io.programs = programs_;
    return RunTool(args, io);
  }
  // A status other than `status` shows the command and what it said.
  bool Expect(int status, const std::vector<std::string>& args) {
    const int got = Run(args);
    EXPECT_EQ(got, status) << ::testing::PrintToString(args) << "\n" << err_.str();
    return got == status;
  }
  void ExpectSays(int status, const std::vector<std::string>& args, std::string_view says) {
    Expect(status, args);
    EXPECT_TRUE(Holds(err_.str(), says)) << args[0];
  }

  ScratchDir dir_;
  ScratchDir temp_;
  LinuxEnvironment env_;
  ProcessRunner* programs_ = nullptr;  // null: the real programs
  std::ostringstream out_, err_;
};

}  // namespace mirel::test
