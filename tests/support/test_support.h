// Shared test helpers: a scratch folder per test, byte-level file helpers,
// encoders for every input encoding, and a TableStore fixture whose verbs
// read as a story (Load, Rows, Visible).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/status.h"
#include "platform/temp_folder.h"
#include "store/compiled_table.h"
#include "store/table_store.h"
#include "support/memory_file_system.h"

#define EXPECT_OK(expr)                                    \
  do {                                                     \
    const auto& _s = (expr);                               \
    EXPECT_TRUE(_s.IsOk()) << ::mirel::test::Describe(_s); \
  } while (0)
#define ASSERT_OK(expr)                                    \
  do {                                                     \
    const auto& _s = (expr);                               \
    ASSERT_TRUE(_s.IsOk()) << ::mirel::test::Describe(_s); \
  } while (0)

namespace mirel::test {

// Whether the tests run under AddressSanitizer: a few tests then skip what
// the sanitizer cannot do (a capped address space) or take smaller inputs.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

inline std::string Describe(const Status& s) { return s.message(); }
template <class T>
std::string Describe(const Result<T>& r) {
  return r.IsOk() ? std::string("ok") : r.status().message();
}

// The status failed and its message holds `text`.
::testing::AssertionResult Says(const Status& status, std::string_view text);
template <class T>
::testing::AssertionResult Says(const Result<T>& result, std::string_view text) {
  if (result.IsOk())
    return ::testing::AssertionFailure() << "succeeded; expected \"" << text << "\"";
  return Says(result.status(), text);
}

// The machine's own file system, for tests that work on real files. It holds
// no state, so every test may share it.
FileSystem& DiskFs();

// A fresh folder under the system temporary folder, removed afterwards.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

void WriteBytes(const std::filesystem::path& path, std::string_view bytes);
std::string ReadBytes(const std::filesystem::path& path);

// Waits up to `seconds` for `path` to hold a line; its bytes, or "" when
// the time ran out.
std::string WaitForLine(const std::filesystem::path& path, double seconds);
// Whether process `pid` has ended (a zombie counts) within `seconds`.
bool ProcessEnds(long pid, double seconds);
// Whether `name` is a program on $PATH: the input methods' tools are
// Debian packages a machine may lack, and their tests skip then.
bool HaveProgram(const std::string& name);
// Why a test that needs Debian's input-method packages cannot run here, or
// empty: "NAME is not installed (PACKAGE)" for the first need missing. An
// absolute NAME is a file, any other a program on $PATH.
struct DebianNeed {
  std::string name;
  std::string package;
};
std::string NotInstalled(std::initializer_list<DebianNeed> needs);
// Whether `text` holds `part`; a failure shows the whole text.
::testing::AssertionResult Holds(std::string_view text, std::string_view part);

std::string Utf8(std::u16string_view text);
std::string Utf16Le(std::u16string_view text, bool bom = true);
std::string Utf16Be(std::u16string_view text);
std::string Gbk(std::u16string_view text);
// The built-in character classes, shared read-only by every test.
const CharacterClassTable& BuiltInClasses();
// `text` compiled, as the bytes of a compiled table file.
std::string CompiledBytes(std::u16string text, const OpaqueHeader& opaque = {});
// The bytes the program writes for these rows: FF FE, then each row and CR LF.
std::string TableBytes(const std::vector<std::u16string>& rows);

// A TableStore over its own temporary folder.
class StoreTest : public ::testing::Test {
 protected:
  StoreTest();

  // Writes `bytes` as `name` in the scratch folder and loads it.
  Result<uint32_t> LoadBytes(std::string_view bytes, std::string_view name = "table.txt");
  // Loads UTF-8 text.
  Result<uint32_t> Load(std::u16string_view text) { return LoadBytes(Utf8(text)); }

  // Whole row texts of the table, in its present order.
  std::vector<std::u16string> Rows() const;
  // Entries of the visible rows.
  std::vector<std::u16string> Visible(RowTextKind kind = RowTextKind::kEntry) const;
  std::vector<uint32_t> RowMap() const;

  ScratchDir dir_;
  FileSystem& fs_ = DiskFs();
  std::unique_ptr<TempFolder> temp_;
  std::unique_ptr<TableStore> store_;
};

}  // namespace mirel::test
