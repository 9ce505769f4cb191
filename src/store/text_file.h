// Reading text files in any supported encoding into UTF-16, and writing the
// program's text files: UTF-16LE with the mark FF FE, lines ended by CR LF,
// always replacing the target atomically.
//
// Encodings are recognised from the first bytes: a UTF-8 mark, a UTF-16 mark
// of either byte order, UTF-8 without a mark when the bytes look like UTF-8,
// and otherwise the legacy code page (GBK). UTF-16 without a mark is not
// recognised. Decoding never fails: invalid sequences become U+FFFD.
#pragma once

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/status.h"
#include "platform/utf16.h"

namespace mirel {

enum class TextEncoding { kUtf8Bom, kUtf16Le, kUtf16Be, kUtf8, kLegacy };

struct TextBuffer {
  std::u16string text;
  TextEncoding encoding = TextEncoding::kLegacy;
};

// The loose UTF-8 test: continuation bytes where lead bytes promise them, and
// at least one byte of 0x80 or above. Pure ASCII is not "UTF-8" here.
bool LooksLikeUtf8(std::string_view bytes);

TextBuffer DecodeText(std::string_view bytes);

// Decodes as DecodeText does, into room for DecodedUnitsBound(bytes) units
// that the caller provides, for the encodings that can be decoded in place:
// UTF-8 with or without its mark, and UTF-16LE. Gives nothing for the others
// (UTF-16BE, the legacy code page), which DecodeText reads.
struct DecodedText {
  size_t units = 0;
  TextEncoding encoding = TextEncoding::kLegacy;
};
size_t DecodedUnitsBound(std::string_view bytes);
std::optional<DecodedText> DecodeTextInto(std::string_view bytes, char16_t* out);

// Reads and decodes a whole file. Fails with a message naming the file when
// it cannot be opened or read, is a folder, or memory runs out.
Result<TextBuffer> ReadTextFile(FileSystem& fs, const std::filesystem::path& path);

// Reads and decodes a file in pieces of about `pieceBytes` input bytes, each
// ending at a line end (or the end of the file), and hands each to `visit`
// with the number of file bytes read up to its end; `visit` may change the
// piece. The encoding is decided for the whole file exactly as ReadTextFile
// decides it (for a stream, which cannot be read twice, by its first piece);
// only a piece's worth of text, or one line, is held at a time. With
// `readAhead`, the next piece is read and decoded on a second core while
// `visit` has the last; only for a `visit` that reaches no file, since `fs`
// is then used from two threads.
Status ReadTextFileInPieces(
    FileSystem& fs, const std::filesystem::path& path,
    const std::function<void(std::u16string& piece, uint64_t bytesDone)>& visit,
    size_t pieceBytes = size_t{1} << 20, bool readAhead = false);

// Reads a whole file's bytes (no decoding).
Result<std::string> ReadFileBytes(FileSystem& fs, const std::filesystem::path& path);

// A UTF-16LE text file being written. Nothing reaches the target until
// Commit succeeds; a writer dropped without Commit leaves the target as it
// was.
class TextWriter {
 public:
  static Result<std::unique_ptr<TextWriter>> Create(FileSystem& fs,
                                                    const std::filesystem::path& target);

  void WriteBom();
  void Write(std::u16string_view text);
  void WriteFormatted(std::u16string_view format, std::initializer_list<FormatArg> args);
  // Buffered; the first failure is kept and returned here.
  Status Commit();

 private:
  explicit TextWriter(std::unique_ptr<OutputFile> file) : file_(std::move(file)) {}
  void Flush();
  static constexpr size_t kBufferUnits = size_t{1} << 19;
  std::unique_ptr<OutputFile> file_;
  std::u16string buffer_;
  std::u16string scratch_;
  Status failure_;
};

}  // namespace mirel
