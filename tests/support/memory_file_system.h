// A file system held in memory, for tests that need no real file: regular
// files and folders only. Relative paths count from "/", which exists. "-" is
// refused.
#pragma once

#include <memory>
#include <string>

#include "platform/file_system.h"

namespace mirel::test {

std::unique_ptr<FileSystem> NewMemoryFileSystem();
// The same, with "-" reading `standardInput` and a committed "-" appending to
// `standardOutput`; both are borrowed and must outlive the file system.
std::unique_ptr<FileSystem> NewMemoryFileSystem(const std::string& standardInput,
                                                std::string& standardOutput);

}  // namespace mirel::test
