#include "platform/terminal_text.h"

#include <cstdio>

namespace mirel {
namespace {

void AppendByteEscape(unsigned char byte, std::string& out) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
  out += escaped;
}

// The length of the UTF-8 sequence `lead` starts, 0 when it starts none.
size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Whether `next` may follow `pending` (overlong forms, surrogates and code
// points above U+10FFFF excluded).
bool Continues(std::string_view pending, unsigned char next) {
  if (next < 0x80 || next > 0xBF) return false;
  if (pending.size() != 1) return true;
  switch (static_cast<unsigned char>(pending[0])) {
    case 0xE0:
      return next >= 0xA0;
    case 0xED:
      return next <= 0x9F;
    case 0xF0:
      return next >= 0x90;
    case 0xF4:
      return next <= 0x8F;
    default:
      return true;
  }
}

// Calls whole(sequence) for each complete UTF-8 sequence of `text` and
// stray(byte) for each byte that starts none.
template <class Whole, class Stray>
void ForEachSequence(std::string_view text, Whole whole, Stray stray) {
  size_t k = 0;
  while (k < text.size()) {
    const auto lead = static_cast<unsigned char>(text[k]);
    if (lead < 0x80) {
      whole(text.substr(k, 1));
      ++k;
      continue;
    }
    const size_t length = SequenceLength(lead);
    size_t have = 1;
    while (length != 0 && have < length && k + have < text.size() &&
           Continues(text.substr(k, have), static_cast<unsigned char>(text[k + have]))) {
      ++have;
    }
    if (length == 0 || have < length) {
      stray(lead);
      ++k;
      continue;
    }
    whole(text.substr(k, length));
    k += length;
  }
}

// C0, DEL and C1 (U+0080 to U+009F, encoded C2 80 to C2 9F): the code point,
// or -1 for a sequence that is no control.
int ControlOf(std::string_view sequence) {
  const auto lead = static_cast<unsigned char>(sequence[0]);
  if (sequence.size() == 1) return lead < 0x20 || lead == 0x7F ? lead : -1;
  const auto second = static_cast<unsigned char>(sequence[1]);
  return lead == 0xC2 && second <= 0x9F ? second : -1;
}

void AppendUnitEscape(unsigned unit, std::string& out) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, "\\u%04x", unit);
  out += escaped;
}

// Controls and bytes that are not UTF-8 escaped; LF and TAB kept when
// `keepLines`.
std::string Escape(std::string_view text, bool keepLines) {
  std::string out;
  out.reserve(text.size());
  ForEachSequence(
      text,
      [&](std::string_view sequence) {
        const int control = ControlOf(sequence);
        if (control < 0 || (keepLines && (control == '\n' || control == '\t'))) {
          out.append(sequence);
        } else if (control < 0x80) {
          AppendByteEscape(static_cast<unsigned char>(control), out);
        } else {
          AppendUnitEscape(static_cast<unsigned>(control), out);
        }
      },
      [&](unsigned char byte) { AppendByteEscape(byte, out); });
  return out;
}

}  // namespace

std::string EscapeControls(std::string_view text) { return Escape(text, true); }

std::string EscapeName(std::string_view name) { return Escape(name, false); }

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  ForEachSequence(
      text,
      [&](std::string_view sequence) {
        const int control = ControlOf(sequence);
        if (control >= 0) {
          AppendUnitEscape(static_cast<unsigned>(control), out);
        } else {
          if (sequence[0] == '"' || sequence[0] == '\\') out += '\\';
          out.append(sequence);
        }
      },
      // Lone low surrogates U+DC80 to U+DCFF stand for bytes that are not
      // UTF-8, the convention that lets a reader get the exact bytes back.
      [&](unsigned char byte) { AppendUnitEscape(0xDC00u + byte, out); });
  return out + "\"";
}

EscapingStreamBuffer::~EscapingStreamBuffer() {
  std::string out;
  FlushPending(out);
  sink_ << out;
  sink_.flush();
}

void EscapingStreamBuffer::WriteRaw(std::string_view sequence) {
  sink_.write(sequence.data(), static_cast<std::streamsize>(sequence.size()));
}

void EscapingStreamBuffer::FlushPending(std::string& out) {
  out += EscapeControls(pending_);
  pending_.clear();
  expected_ = 0;
}

void EscapingStreamBuffer::Put(unsigned char byte, std::string& out) {
  if (!pending_.empty()) {
    if (Continues(pending_, byte)) {
      pending_ += static_cast<char>(byte);
      if (pending_.size() == expected_) FlushPending(out);
      return;
    }
    FlushPending(out);
  }
  expected_ = SequenceLength(byte);
  if (expected_ == 0) {
    out += EscapeControls(std::string_view(reinterpret_cast<const char*>(&byte), 1));
    return;
  }
  pending_ += static_cast<char>(byte);
}

EscapingStreamBuffer::int_type EscapingStreamBuffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  std::string out;
  Put(static_cast<unsigned char>(traits_type::to_char_type(c)), out);
  sink_ << out;
  return sink_ ? c : traits_type::eof();
}

std::streamsize EscapingStreamBuffer::xsputn(const char* data, std::streamsize size) {
  std::string out;
  out.reserve(static_cast<size_t>(size));
  for (std::streamsize k = 0; k < size; ++k) Put(static_cast<unsigned char>(data[k]), out);
  sink_ << out;
  return sink_ ? size : 0;
}

int EscapingStreamBuffer::sync() {
  sink_.flush();
  return sink_ ? 0 : -1;
}

void WriteControl(std::ostream& stream, std::string_view sequence) {
  if (auto* escaping = dynamic_cast<EscapingStreamBuffer*>(stream.rdbuf())) {
    escaping->WriteRaw(sequence);
  } else {
    stream << sequence;
  }
}

}  // namespace mirel
