// fcitx5's binary form, .main.dict, through its own table library. The
// library reports failure by throwing; nothing leaves this file but a Status.
#include <libime/table/tablebaseddictionary.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>

#include "convert/linux_formats.h"
#include "platform/messages.h"

namespace mirel::linux_table {
namespace {

// libime writes its text form with the settings first, then [Rule] and
// [Data]; our own reader takes it from there.
Result<ReadResult> TextToTable(const std::string& text, LinuxFormat format) {
  Result<ReadResult> read = ReadFcitxText(text);
  if (read.IsOk()) read->table.format = format;
  return read;
}

// libime reports any failed stream as "io fail: iostream error". Reading,
// that is a file that ends before its dictionary does; writing into memory,
// it is memory that ran out.
Status StreamFailure(bool loaded) {
  if (loaded) return Status::NoMemory("fcitx5 dictionary");
  return Status::Corrupt(Tr("damaged fcitx5 table"),
                         Tr("the file ends before its dictionary does (cut short, or not a "
                            ".main.dict); read it again from where it came"));
}

}  // namespace

ChildLimits FcitxChildLimits(uint64_t inputBytes) {
  // Measured on Debian's largest dictionary (10 MiB): under a second and
  // about 12 bytes of memory per input byte; the limits leave ample room
  // above that and stop the runaways a damaged file causes. The clock gets
  // twice the CPU time, for a loaded machine.
  constexpr uint64_t kMiB = uint64_t{1} << 20;
  const double mib = static_cast<double>(inputBytes) / kMiB;
  ChildLimits limits;
  limits.cpuSeconds = std::min(4.0 + 1.5 * mib, 300.0);
  limits.wallSeconds = 2 * limits.cpuSeconds + 5.0;
  limits.memoryBytes = std::min(256 * kMiB + 48 * inputBytes, uint64_t{6} << 30);
  limits.outputBytes = std::min(64 * kMiB + 16 * inputBytes, uint64_t{3} << 30);
  limits.fileBytes = 1;  // libime writes no file here
  return limits;
}

namespace {

// libime's own result, or what became of the child it ran in.
Result<std::string> InChild(ProcessRunner& runner, uint64_t inputBytes,
                            const std::function<Result<std::string>()>& work) {
  const ChildLimits limits = FcitxChildLimits(inputBytes);
  Result<ChildOutcome> outcome = runner.RunFunction(work, limits);
  if (!outcome.IsOk()) return outcome.status();
  if (outcome->end != ChildOutcome::End::kFinished) {
    return Status::Corrupt(Tr("damaged fcitx5 table"), DescribeChildEnd(outcome.value(), limits));
  }
  if (!outcome->status.IsOk()) return outcome->status;
  return std::move(outcome->output);
}

}  // namespace

Result<ReadResult> ReadFcitxBinary(std::string_view bytes) {
  return ReadFcitxBinary(bytes, *NewPosixProcessRunner());
}

Result<ReadResult> ReadFcitxBinary(std::string_view bytes, ProcessRunner& runner) {
  // Only libime's text form comes back; our own reader parses it here.
  Result<std::string> text = InChild(runner, bytes.size(), [bytes]() -> Result<std::string> {
    bool loaded = false;
    try {
      libime::TableBasedDictionary dict;
      std::istringstream in{std::string(bytes)};
      dict.load(in, libime::TableFormat::Binary);
      loaded = true;
      std::ostringstream out;
      dict.save(out, libime::TableFormat::Text);
      return std::move(out).str();
    } catch (const std::bad_alloc&) {
      return Status::NoMemory("fcitx5 dictionary");
    } catch (const std::ios_base::failure&) {
      return StreamFailure(loaded);
    } catch (const std::exception& e) {
      return Status::Corrupt("fcitx5 dictionary", e.what());
    }
  });
  if (!text.IsOk()) return text.status();
  return TextToTable(text.value(), LinuxFormat::kFcitxBinary);
}

Result<std::string> WriteFcitxBinary(const LinuxTable& table) {
  return WriteFcitxBinary(table, *NewPosixProcessRunner());
}

Result<std::string> WriteFcitxBinary(const LinuxTable& table, ProcessRunner& runner) {
  // libime leaves out, without a word, rows with a key outside the key set
  // and repeats of a code and entry; the table must not lose them unseen.
  if (std::optional<Diagnostic> bad = FirstRowFcitxDrops(table)) {
    return Status::InvalidArgument("fcitx5 dictionary:" + std::to_string(bad->line), bad->message);
  }
  // Our text goes in, but libime parses it again; the header settings come
  // from the user, so the parse runs under the same guard as a read.
  const std::string source = WriteFcitxText(table);
  return InChild(runner, source.size(), [&source]() -> Result<std::string> {
    try {
      libime::TableBasedDictionary dict;
      std::istringstream in(source);
      dict.load(in, libime::TableFormat::Text);
      std::ostringstream out;
      dict.save(out, libime::TableFormat::Binary);
      return std::move(out).str();
    } catch (const std::bad_alloc&) {
      return Status::NoMemory("fcitx5 dictionary");
    } catch (const std::ios_base::failure&) {
      // Our own text reads back; a stream that fails here had no memory left.
      return Status::NoMemory("fcitx5 dictionary");
    } catch (const std::exception& e) {
      return Status::InvalidArgument("fcitx5 dictionary", e.what());
    }
  });
}

}  // namespace mirel::linux_table
