#include "store/text_file.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/codepage.h"
#include "platform/large_buffer.h"
#include "platform/parallel.h"

namespace mirel {

static_assert(std::endian::native == std::endian::little,
              "UTF-16LE files are written straight from memory");

namespace {

enum class LooseUtf8 { kInvalid, kValid, kAsciiOnly, kCutShort };

// The loose UTF-8 walk, resumable across pieces of a file.
struct LooseUtf8Walk {
  int pending = 0;
  bool high = false;
  bool invalid = false;

  void Feed(std::string_view bytes);
  LooseUtf8 Result() const {
    if (invalid) return LooseUtf8::kInvalid;
    if (pending != 0) return LooseUtf8::kCutShort;
    return high ? LooseUtf8::kValid : LooseUtf8::kAsciiOnly;
  }
};

LooseUtf8 WalkLooseUtf8(std::string_view bytes) {
  LooseUtf8Walk walk;
  walk.Feed(bytes);
  return walk.Result();
}

void LooseUtf8Walk::Feed(std::string_view bytes) {
  if (invalid) return;
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
      if ((b & 0xC0) != 0x80) {
        invalid = true;
        return;
      }
      --pending;
      continue;
    }
    if (b < 0x80) continue;
    high = true;
    int k = std::countl_one(b);
    if (k == 1) {
      invalid = true;
      return;
    }
    pending = k - 1;
  }
}

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";

// Where a large UTF-8 text is cut for two cores: after a line end, which no
// character spans, so the halves decode to the same text as one piece.
size_t TwoCoreCut(std::string_view bytes) {
  constexpr size_t kSplitBytes = size_t{4} << 20;
  return bytes.size() >= kSplitBytes && UsableCores() >= 2 ? bytes.find('\n', bytes.size() / 2)
                                                           : std::string_view::npos;
}

size_t DecodeUtf8(std::string_view bytes, std::u16string& out) {
  const size_t cut = TwoCoreCut(bytes);
  if (cut == std::string_view::npos) return AppendUtf8(bytes, out);
  // Reserving by bytes only claims address space, and spares the append a
  // reallocation.
  out.reserve(out.size() + bytes.size());
  std::u16string second;
  size_t errors = 0, secondErrors = 0;
  RunBoth(
      true, [&] { secondErrors = AppendUtf8(bytes.substr(cut + 1), second); },
      [&] { errors = AppendUtf8(bytes.substr(0, cut + 1), out); });
  out.append(second);
  return errors + secondErrors;
}

// The second half is decoded where the first half's bytes end, which the
// first half's units cannot pass, and then moved down behind them.
size_t DecodeUtf8(std::string_view bytes, char16_t* out, size_t& errors) {
  const size_t cut = TwoCoreCut(bytes);
  if (cut == std::string_view::npos) return DecodeUtf8Into(bytes, out, errors);
  size_t first = 0, second = 0, secondErrors = 0;
  RunBoth(
      true, [&] { second = DecodeUtf8Into(bytes.substr(cut + 1), out + cut + 1, secondErrors); },
      [&] { first = DecodeUtf8Into(bytes.substr(0, cut + 1), out, errors); });
  std::memmove(out + first, out + cut + 1, second * sizeof(char16_t));
  errors += secondErrors;
  return first + second;
}

// Text without a mark. A legacy-code-page file usually fails the UTF-8 test
// within its first bytes; anything else is decoded as UTF-8 straight away
// (`decode` gives the units and the ill-formed pieces), and only a file with
// ill-formed pieces needs the whole test. Nothing means the code page.
template <typename Decode>
std::optional<TextEncoding> DecodeUnmarked(std::string_view bytes, Decode decode) {
  constexpr size_t kProbe = 4096;
  if (WalkLooseUtf8(bytes.substr(0, kProbe)) == LooseUtf8::kInvalid) return std::nullopt;
  const auto [units, errors] = decode();
  if (errors != 0 && !LooksLikeUtf8(bytes)) return std::nullopt;
  // Plain ASCII reads the same either way; it counts as the code page.
  return units == bytes.size() ? TextEncoding::kLegacy : TextEncoding::kUtf8;
}

}  // namespace

bool LooksLikeUtf8(std::string_view bytes) { return WalkLooseUtf8(bytes) == LooseUtf8::kValid; }

TextBuffer DecodeText(std::string_view bytes) {
  TextBuffer out;
  auto u = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.starts_with(kUtf8Mark)) {
    out.encoding = TextEncoding::kUtf8Bom;
    DecodeUtf8(bytes.substr(3), out.text);
  } else if (bytes.starts_with(kUtf16LeMark)) {
    out.encoding = TextEncoding::kUtf16Le;
    size_t units = bytes.size() / 2 - 1;  // a trailing odd byte is not text
    out.text.reserve(units);
    AdviseHugePages(out.text.data(), units * sizeof(char16_t));
    out.text.resize(units);
    std::memcpy(out.text.data(), bytes.data() + 2, units * 2);
  } else if (bytes.starts_with(kUtf16BeMark)) {
    out.encoding = TextEncoding::kUtf16Be;
    size_t units = bytes.size() / 2 - 1;
    out.text.resize(units);
    for (size_t k = 0; k < units; ++k) {
      out.text[k] = static_cast<char16_t>((u(2 + 2 * k) << 8) | u(3 + 2 * k));
    }
  } else {
    const std::optional<TextEncoding> unmarked = DecodeUnmarked(bytes, [&] {
      const size_t errors = DecodeUtf8(bytes, out.text);
      return std::pair(out.text.size(), errors);
    });
    out.encoding = unmarked.value_or(TextEncoding::kLegacy);
    if (!unmarked) out.text = DecodeLegacyCodePage(bytes);
  }
  return out;
}

size_t DecodedUnitsBound(std::string_view bytes) {
  return bytes.starts_with(kUtf16LeMark) ? bytes.size() / 2 - 1 : bytes.size();
}

std::optional<DecodedText> DecodeTextInto(std::string_view bytes, char16_t* out) {
  size_t errors = 0;
  if (bytes.starts_with(kUtf8Mark)) {
    return DecodedText{DecodeUtf8(bytes.substr(3), out, errors), TextEncoding::kUtf8Bom};
  }
  if (bytes.starts_with(kUtf16LeMark)) {
    const size_t units = bytes.size() / 2 - 1;
    std::memcpy(out, bytes.data() + 2, units * 2);
    return DecodedText{units, TextEncoding::kUtf16Le};
  }
  if (bytes.starts_with(kUtf16BeMark)) return std::nullopt;
  size_t units = 0;
  const std::optional<TextEncoding> unmarked = DecodeUnmarked(bytes, [&] {
    units = DecodeUtf8(bytes, out, errors);
    return std::pair(units, errors);
  });
  if (!unmarked) return std::nullopt;
  return DecodedText{units, *unmarked};
}

Result<std::string> ReadFileBytes(FileSystem& fs, const std::filesystem::path& path) {
  return fs.ReadWhole(path);
}

namespace {

// The end of the last complete line in bytes [from, size) of a piece of 8-bit
// text (CR and LF are never part of a multi-byte character in UTF-8 or GBK),
// or 0. Only the unscanned tail is searched, so a line longer than many
// pieces costs linear time.
size_t LastLineEnd8(std::string_view bytes, size_t from) {
  size_t at = bytes.substr(from).find_last_of("\r\n");
  return at == std::string_view::npos ? 0 : from + at + 1;
}

size_t LastLineEnd16(std::string_view bytes, bool bigEndian, size_t from) {
  for (size_t k = bytes.size() / 2; k-- > from / 2;) {
    unsigned char lo = static_cast<unsigned char>(bytes[2 * k + (bigEndian ? 1 : 0)]);
    unsigned char hi = static_cast<unsigned char>(bytes[2 * k + (bigEndian ? 0 : 1)]);
    if (hi == 0 && (lo == '\r' || lo == '\n')) return 2 * k + 2;
  }
  return 0;
}

// How many of the first bytes hold whole characters, so that decoding them
// alone gives what decoding them with the rest would. A code-page text is cut
// only after a byte below 0x40, which is never the second byte of a pair.
size_t WholeCharacters(std::string_view bytes, TextEncoding encoding) {
  const auto u = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (encoding == TextEncoding::kUtf16Le || encoding == TextEncoding::kUtf16Be) {
    return bytes.size() & ~size_t{1};
  }
  if (encoding == TextEncoding::kLegacy) {
    for (size_t k = bytes.size(); k-- > 0;) {
      if (u(k) < 0x40) return k + 1;
    }
    return 0;
  }
  // UTF-8: back to the last byte that starts a character; it stays when the
  // bytes after it are fewer than it announces.
  for (size_t k = bytes.size(), seen = 0; k-- > 0 && seen < 4; ++seen) {
    if ((u(k) & 0xC0) == 0x80) continue;
    const size_t length = u(k) < 0x80 ? 1 : static_cast<size_t>(std::countl_one(u(k)));
    return bytes.size() - k >= length ? bytes.size() : k;
  }
  return bytes.size();
}

// Appends up to `size` bytes of `file` to `out`; false at the end.
Result<bool> AppendBlock(InputFile& file, std::string& out, size_t size) {
  const size_t at = out.size();
  try {
    out.resize(at + size);
  } catch (const std::bad_alloc&) {
    return Status::NoMemory(file.path().string());
  }
  Result<size_t> n = file.Read(std::as_writable_bytes(std::span(out.data() + at, size)));
  if (!n.IsOk()) {
    out.resize(at);
    return n.status();
  }
  out.resize(at + n.value());
  return n.value() > 0;
}

}  // namespace

Status ReadTextFileInPieces(
    FileSystem& fs, const std::filesystem::path& path,
    const std::function<void(std::u16string& piece, uint64_t bytesDone)>& visit, size_t pieceBytes,
    bool readAhead) {
  Result<std::unique_ptr<InputFile>> opened = fs.OpenInput(path);
  if (!opened.IsOk()) return opened.status();
  InputFile& reader = *opened.value();
  // Only a piece is held at a time, but one endless line (a link to
  // /dev/zero) would be held whole: the input is bounded like a whole read.
  const ReadLimit bound = fs.InputLimit();
  if (reader.SizeHint() > bound.bytes) return FileSystem::TooLarge(path, bound);
  uint64_t readSoFar = 0;
  auto readBlock = [&](std::string& into) -> Result<bool> {
    const size_t before = into.size();
    Result<bool> more = AppendBlock(reader, into, pieceBytes);
    if (!more.IsOk()) return more;
    readSoFar += into.size() - before;
    if (readSoFar > bound.bytes) return FileSystem::TooLarge(path, bound);
    return more;
  };
  std::string bytes;
  // The first bytes tell a mark; without one, the whole file decides
  // between UTF-8 and the code page. A stream cannot be read twice, so it
  // is decided on its first piece.
  Result<bool> more = readBlock(bytes);
  if (!more.IsOk()) return more.status();
  TextEncoding encoding;
  size_t skip = 0;
  if (bytes.starts_with(kUtf8Mark)) {
    encoding = TextEncoding::kUtf8Bom;
    skip = kUtf8Mark.size();
  } else if (bytes.starts_with(kUtf16LeMark)) {
    encoding = TextEncoding::kUtf16Le;
    skip = 2;
  } else if (bytes.starts_with(kUtf16BeMark)) {
    encoding = TextEncoding::kUtf16Be;
    skip = 2;
  } else if (reader.IsStream()) {
    encoding =
        WalkLooseUtf8(bytes) != LooseUtf8::kInvalid ? TextEncoding::kUtf8 : TextEncoding::kLegacy;
  } else {
    LooseUtf8Walk walk;
    std::string block = bytes;
    while (true) {
      walk.Feed(block);
      if (walk.invalid) break;
      block.clear();
      Result<bool> next = readBlock(block);
      if (!next.IsOk()) return next.status();
      if (!next.value()) break;
    }
    encoding = walk.Result() == LooseUtf8::kValid ? TextEncoding::kUtf8 : TextEncoding::kLegacy;
    Status rewound = reader.Rewind();
    if (!rewound.IsOk()) return rewound;
    bytes.clear();
    readSoFar = 0;
    Result<bool> first = readBlock(bytes);
    if (!first.IsOk()) return first.status();
  }
  bytes.erase(0, skip);
  uint64_t done = skip;

  const bool sixteen = encoding == TextEncoding::kUtf16Le || encoding == TextEncoding::kUtf16Be;
  const bool bigEndian = encoding == TextEncoding::kUtf16Be;
  auto decode = [&](std::string_view chunk, std::u16string& piece) -> Status {
    try {
      if (sixteen) {
        const size_t at = piece.size();
        piece.resize(at + chunk.size() / 2);
        for (size_t k = 0; k < chunk.size() / 2; ++k) {
          unsigned char a = static_cast<unsigned char>(chunk[2 * k]);
          unsigned char b = static_cast<unsigned char>(chunk[2 * k + 1]);
          piece[at + k] = static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
        }
      } else if (encoding == TextEncoding::kLegacy) {
        piece += DecodeLegacyCodePage(chunk);
      } else {
        AppendUtf8(chunk, piece);
      }
    } catch (const std::bad_alloc&) {
      return Status::NoMemory(path.string());
    }
    return Status::Ok();
  };
  bool atEnd = false, finished = false;
  size_t scanned = 0;
  // Decodes the next piece that ends at a line end (or at the end) into
  // `piece`; within a line longer than a piece, the part of it read so far
  // is held as text, so that the line is held once. False when none is left.
  auto next = [&](std::u16string& piece) -> Result<bool> {
    piece.clear();
    while (!finished) {
      if (!atEnd) {
        scanned = bytes.size() & ~size_t{1};
        Result<bool> read = readBlock(bytes);
        if (!read.IsOk()) return read;
        atEnd = !read.value();
      }
      size_t take = atEnd ? bytes.size()
                          : (sixteen ? LastLineEnd16(bytes, bigEndian, scanned)
                                     : LastLineEnd8(bytes, scanned));
      const bool whole = take != 0 || atEnd;
      // A line longer than a piece: what is whole of it so far is decoded
      // now, and only the bytes of a character cut short wait for the next.
      if (!whole) take = WholeCharacters(bytes, encoding);
      Status decoded = decode(std::string_view(bytes.data(), take), piece);
      if (!decoded.IsOk()) return decoded;
      bytes.erase(0, take);
      done += take;
      finished = atEnd;
      if (whole && !piece.empty()) return true;
    }
    return false;
  };
  std::u16string piece, following;
  Result<bool> has = next(piece);
  uint64_t pieceDone = done;
  const bool ahead = readAhead && UsableCores() >= 2;
  while (has.IsOk() && has.value()) {
    Result<bool> fetched = false;
    // `visit` stays on this thread: it may report to a window.
    if (ahead) {
      RunBoth(
          true, [&] { fetched = next(following); }, [&] { visit(piece, pieceDone); });
    } else {
      visit(piece, pieceDone);
      fetched = next(following);
    }
    has = std::move(fetched);
    piece.swap(following);
    pieceDone = done;
  }
  return has.status();
}

Result<TextBuffer> ReadTextFile(FileSystem& fs, const std::filesystem::path& path) {
  Result<std::string> bytes = ReadFileBytes(fs, path);
  if (!bytes.IsOk()) return bytes.status();
  try {
    return DecodeText(bytes.value());
  } catch (const std::bad_alloc&) {
    return Status::NoMemory(path.string());
  }
}

Result<std::unique_ptr<TextWriter>> TextWriter::Create(FileSystem& fs,
                                                       const std::filesystem::path& target) {
  Result<std::unique_ptr<OutputFile>> file = fs.ReplaceFile(target);
  if (!file.IsOk()) return file.status();
  return std::unique_ptr<TextWriter>(new TextWriter(std::move(file).value()));
}

void TextWriter::WriteBom() { Write(u"\uFEFF"); }

void TextWriter::Write(std::u16string_view text) {
  if (!failure_.IsOk()) return;
  // A piece larger than the buffer goes out as it is, not copied first.
  if (text.size() >= kBufferUnits) {
    Flush();
    if (failure_.IsOk()) failure_ = file_->Append(text.data(), text.size() * sizeof(char16_t));
    return;
  }
  buffer_.append(text);
  if (buffer_.size() >= kBufferUnits) Flush();
}

void TextWriter::Flush() {
  if (failure_.IsOk() && !buffer_.empty()) {
    failure_ = file_->Append(buffer_.data(), buffer_.size() * sizeof(char16_t));
  }
  buffer_.clear();
}

void TextWriter::WriteFormatted(std::u16string_view format, std::initializer_list<FormatArg> args) {
  scratch_.clear();
  AppendFormatted(scratch_, format, args);
  Write(scratch_);
}

Status TextWriter::Commit() {
  Flush();
  if (!failure_.IsOk()) return failure_;
  return file_->Commit();
}

}  // namespace mirel
