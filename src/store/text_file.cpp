#include "store/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>

#include "platform/codepage.h"

namespace mirel {

static_assert(std::endian::native == std::endian::little,
              "UTF-16LE files are written straight from memory");

namespace {

enum class LooseUtf8 { kInvalid, kValid, kAsciiOnly, kCutShort };

LooseUtf8 WalkLooseUtf8(std::string_view bytes) {
  int pending = 0;
  bool high = false;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  for (size_t i = 0; i < n; ++i) {
    if (pending == 0) {
      // Skip ASCII eight bytes at a time.
      while (i + 8 <= n) {
        uint64_t chunk;
        std::memcpy(&chunk, p + i, 8);
        if (chunk & 0x8080808080808080ull) break;
        i += 8;
      }
      if (i >= n) break;
    }
    unsigned char b = p[i];
    if (pending > 0) {
      if ((b & 0xC0) != 0x80) return LooseUtf8::kInvalid;
      --pending;
      continue;
    }
    if (b < 0x80) continue;
    high = true;
    int k = std::countl_one(b);
    if (k == 1) return LooseUtf8::kInvalid;
    pending = k - 1;
  }
  if (pending != 0) return LooseUtf8::kCutShort;
  return high ? LooseUtf8::kValid : LooseUtf8::kAsciiOnly;
}

}  // namespace

bool LooksLikeUtf8(std::string_view bytes) { return WalkLooseUtf8(bytes) == LooseUtf8::kValid; }

TextBuffer DecodeText(std::string_view bytes) {
  TextBuffer out;
  auto u = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 3 && u(0) == 0xEF && u(1) == 0xBB && u(2) == 0xBF) {
    out.encoding = TextEncoding::kUtf8Bom;
    out.text = Utf8ToUtf16(bytes.substr(3));
  } else if (bytes.size() >= 2 && u(0) == 0xFF && u(1) == 0xFE) {
    out.encoding = TextEncoding::kUtf16Le;
    size_t units = bytes.size() / 2 - 1;  // a trailing odd byte is not text
    out.text.resize(units);
    std::memcpy(out.text.data(), bytes.data() + 2, units * 2);
  } else if (bytes.size() >= 2 && u(0) == 0xFE && u(1) == 0xFF) {
    out.encoding = TextEncoding::kUtf16Be;
    size_t units = bytes.size() / 2 - 1;
    out.text.resize(units);
    for (size_t k = 0; k < units; ++k) {
      out.text[k] = static_cast<char16_t>((u(2 + 2 * k) << 8) | u(3 + 2 * k));
    }
  } else {
    // A legacy-code-page file usually fails the UTF-8 test within its first
    // bytes; anything else is decoded as UTF-8 straight away, and only a
    // file with ill-formed pieces needs the whole test.
    constexpr size_t kProbe = 4096;
    bool utf8 = WalkLooseUtf8(bytes.substr(0, kProbe)) != LooseUtf8::kInvalid;
    if (utf8) {
      size_t errors = AppendUtf8(bytes, out.text);
      utf8 = errors == 0 || LooksLikeUtf8(bytes);
    }
    if (utf8) {
      // Plain ASCII reads the same either way; it counts as the code page.
      out.encoding = out.text.size() == bytes.size() ? TextEncoding::kLegacy : TextEncoding::kUtf8;
    } else {
      out.encoding = TextEncoding::kLegacy;
      out.text = DecodeLegacyCodePage(bytes);
    }
  }
  return out;
}

Result<std::string> ReadFileBytes(const std::filesystem::path& path) {
  const std::string where = path.string();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Status::IoError(where, std::string("cannot open: ") + std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st;
  if (::fstat(fd, &st) != 0) return Status::IoError(where, std::strerror(errno));
  if (S_ISDIR(st.st_mode)) return Status::IoError(where, "is a folder, not a file");
  std::string bytes;
  try {
    bytes.resize(static_cast<size_t>(st.st_size));
  } catch (const std::bad_alloc&) {
    return Status::NoMemory(where);
  }
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Status::IoError(where, std::string("cannot read: ") + std::strerror(errno));
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  bytes.resize(done);
  return bytes;
}

Result<TextBuffer> ReadTextFile(const std::filesystem::path& path) {
  Result<std::string> bytes = ReadFileBytes(path);
  if (!bytes.IsOk()) return bytes.status();
  try {
    return DecodeText(bytes.value());
  } catch (const std::bad_alloc&) {
    return Status::NoMemory(path.string());
  }
}

Result<std::unique_ptr<TextWriter>> TextWriter::Create(const std::filesystem::path& target) {
  Result<std::unique_ptr<AtomicFile>> file = AtomicFile::Create(target);
  if (!file.IsOk()) return file.status();
  return std::unique_ptr<TextWriter>(new TextWriter(std::move(file).value()));
}

void TextWriter::WriteBom() { Write(u"\uFEFF"); }

void TextWriter::Write(std::u16string_view text) {
  file_->Write(text.data(), text.size() * sizeof(char16_t));
}

void TextWriter::WriteFormatted(std::u16string_view format, std::initializer_list<FormatArg> args) {
  scratch_.clear();
  AppendFormatted(scratch_, format, args);
  Write(scratch_);
}

Status TextWriter::Commit() { return file_->Commit(); }

}  // namespace mirel
