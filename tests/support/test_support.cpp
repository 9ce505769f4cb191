#include "support/test_support.h"

#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/codepage.h"
#include "platform/utf16.h"

namespace mirel::test {

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "mirel-test-XXXXXX").string();
  char* made = ::mkdtemp(pattern.data());
  if (made == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = made;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

::testing::AssertionResult Says(const Status& status, std::string_view text) {
  if (status.IsOk())
    return ::testing::AssertionFailure() << "succeeded; expected \"" << text << "\"";
  if (status.message().find(text) == std::string::npos) {
    return ::testing::AssertionFailure()
           << "\"" << status.message() << "\" lacks \"" << text << "\"";
  }
  return ::testing::AssertionSuccess();
}

const CharacterClassTable& BuiltInClasses() {
  static const std::unique_ptr<CharacterClassTable> classes = CharacterClassTable::BuiltIn();
  return *classes;
}

std::string CompiledBytes(std::u16string text, const OpaqueHeader& opaque) {
  std::string bytes;
  Result<CompileSummary> compiled =
      CompileTableText(text, BuiltInClasses(), opaque, {}, [&](std::span<const std::byte> piece) {
        bytes.append(reinterpret_cast<const char*>(piece.data()), piece.size());
      });
  EXPECT_OK(compiled);
  return bytes;
}

std::string Utf8(std::u16string_view text) { return Utf16ToUtf8(text); }

namespace {
std::string Utf16(std::u16string_view text, bool bigEndian, bool bom) {
  std::string out = bom ? std::string(bigEndian ? "\xFE\xFF" : "\xFF\xFE") : std::string();
  for (char16_t u : text) {
    out += static_cast<char>(bigEndian ? u >> 8 : u & 0xFF);
    out += static_cast<char>(bigEndian ? u & 0xFF : u >> 8);
  }
  return out;
}
}  // namespace

std::string Utf16Le(std::u16string_view text, bool bom) { return Utf16(text, false, bom); }
std::string Utf16Be(std::u16string_view text) { return Utf16(text, true, true); }

std::string Gbk(std::u16string_view text) { return EncodeLegacyCodePage(text); }

std::string TableBytes(const std::vector<std::u16string>& rows) {
  std::u16string text;
  for (const auto& row : rows) text += row + u"\r\n";
  return Utf16Le(text);
}

bool HaveProgram(const std::string& name) {
  return std::system(("command -v '" + name + "' >/dev/null 2>&1").c_str()) == 0;
}

std::string NotInstalled(std::initializer_list<DebianNeed> needs) {
  for (const DebianNeed& need : needs) {
    const bool here =
        need.name.starts_with('/') ? std::filesystem::exists(need.name) : HaveProgram(need.name);
    if (!here) return need.name + " is not installed (" + need.package + ")";
  }
  return {};
}

::testing::AssertionResult Holds(std::string_view text, std::string_view part) {
  if (text.find(part) != std::string_view::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

FileSystem& DiskFs() {
  static const std::unique_ptr<FileSystem> fs = NewPosixFileSystem();
  return *fs;
}

StoreTest::StoreTest() {
  Result<std::unique_ptr<TempFolder>> temp = TempFolder::OpenIn(dir_.path());
  if (!temp.IsOk()) throw std::runtime_error(temp.status().message());
  temp_ = std::move(temp).value();
  store_ = std::make_unique<TableStore>(fs_, *temp_);
}

Result<uint32_t> StoreTest::LoadBytes(std::string_view bytes, std::string_view name) {
  WriteBytes(dir_ / name, bytes);
  return store_->LoadTable(dir_ / name);
}

std::vector<std::u16string> StoreTest::Rows() const {
  std::vector<std::u16string> rows;
  for (uint32_t i = 0; i < store_->RowCount(); ++i) rows.emplace_back(store_->DataRowText(i));
  return rows;
}

std::vector<std::u16string> StoreTest::Visible(RowTextKind kind) const {
  std::vector<std::u16string> rows;
  std::u16string text;
  for (uint32_t v = 0; v < store_->VisibleRowCount(); ++v) {
    store_->RowText(v, kind, text);
    rows.push_back(text);
  }
  return rows;
}

std::vector<uint32_t> StoreTest::RowMap() const {
  std::vector<uint32_t> map;
  for (uint32_t v = 0; v < store_->VisibleRowCount(); ++v) map.push_back(store_->DataRowOf(v));
  return map;
}

std::string WaitForLine(const std::filesystem::path& path, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
      std::string bytes = ReadBytes(path);
      if (bytes.find('\n') != std::string::npos) return bytes;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return {};
}

bool ProcessEnds(long pid, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  const std::filesystem::path stat = "/proc/" + std::to_string(pid) + "/stat";
  do {
    std::error_code ec;
    if (!std::filesystem::exists(stat, ec)) return true;
    const std::string text = ReadBytes(stat);
    const size_t close = text.rfind(')');
    if (close != std::string::npos && text.compare(close, 4, ") Z ") == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (std::chrono::steady_clock::now() < end);
  return false;
}

}  // namespace mirel::test
