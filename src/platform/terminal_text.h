// Text that came from files (entries, names, paths) must not steer the
// terminal it is printed on: an escape sequence in a display name could clear
// the screen or write the clipboard. Everything the programs print passes
// through EscapeControls, usually by way of an EscapingStreamBuffer set up in
// front of stdout and stderr once per program. Line feeds and tabs pass; other
// control characters (C0, DEL, C1) and bytes that are not UTF-8 are shown
// as "\x1b", "\u009b" and "\xff". The program's own sequences (the progress
// line's CR and erase) go around the escaping with WriteControl.
//
// Not thread-safe: one thread writes to a buffer at a time.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace mirel {

std::string EscapeControls(std::string_view text);

// For a name (a file, a folder, a registry key) printed within a line: as
// EscapeControls, and line feeds and tabs too ("\x0a", "\x09"), so that a
// name can neither start a line of its own nor add a column.
std::string EscapeName(std::string_view name);

// `text` as a quoted JSON string that passes EscapeControls unchanged:
// controls as \u escapes, and each byte that is not UTF-8 as the lone
// surrogate \udcXX (XX the byte), so that a path that is not UTF-8 still
// makes valid JSON and its bytes can be had back.
std::string JsonString(std::string_view text);

// Escapes what is written to it and passes it on to `sink`, which must
// outlive it. A UTF-8 sequence split over two writes is held until it is
// complete; one still incomplete when the buffer goes is shown escaped.
class EscapingStreamBuffer : public std::streambuf {
 public:
  explicit EscapingStreamBuffer(std::ostream& sink) : sink_(sink) {}
  ~EscapingStreamBuffer() override;
  EscapingStreamBuffer(const EscapingStreamBuffer&) = delete;
  EscapingStreamBuffer& operator=(const EscapingStreamBuffer&) = delete;

  // Writes `sequence` to the sink as it is.
  void WriteRaw(std::string_view sequence);

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* data, std::streamsize size) override;
  int sync() override;

 private:
  void Put(unsigned char byte, std::string& out);
  void FlushPending(std::string& out);

  std::ostream& sink_;
  std::string pending_;  // the start of a UTF-8 sequence
  size_t expected_ = 0;  // its full length
};

// Writes a control sequence of the program's own to `stream`, around its
// escaping buffer when it has one.
void WriteControl(std::ostream& stream, std::string_view sequence);

}  // namespace mirel
