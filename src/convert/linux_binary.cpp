// fcitx5's binary form, .main.dict, through its own table library. The
// library reports failure by throwing; nothing leaves this file but a Status.
#include <libime/table/tablebaseddictionary.h>

#include <memory>
#include <sstream>

#include "convert/linux_formats.h"

namespace mirel::linux_table {
namespace {

// libime writes its text form with the settings first, then [Rule] and
// [Data]; our own reader takes it from there.
Result<ReadResult> TextToTable(const std::string& text, LinuxFormat format) {
  Result<ReadResult> read = ReadFcitxText(text);
  if (read.IsOk()) read->table.format = format;
  return read;
}

}  // namespace

Result<ReadResult> ReadFcitxBinary(std::string_view bytes) {
  try {
    libime::TableBasedDictionary dict;
    std::istringstream in{std::string(bytes)};
    dict.load(in, libime::TableFormat::Binary);
    std::ostringstream text;
    dict.save(text, libime::TableFormat::Text);
    return TextToTable(text.str(), LinuxFormat::kFcitxBinary);
  } catch (const std::bad_alloc&) {
    return Status::NoMemory("fcitx5 dictionary");
  } catch (const std::exception& e) {
    return Status::Corrupt("fcitx5 dictionary", e.what());
  }
}

Result<std::string> WriteFcitxBinary(const LinuxTable& table) {
  // libime leaves out, without a word, rows with a key outside the key set
  // and repeats of a code and entry; the table must not lose them unseen.
  if (std::optional<Diagnostic> bad = FirstRowFcitxDrops(table)) {
    return Status::InvalidArgument("fcitx5 dictionary:" + std::to_string(bad->line), bad->message);
  }
  try {
    libime::TableBasedDictionary dict;
    std::istringstream in(WriteFcitxText(table));
    dict.load(in, libime::TableFormat::Text);
    std::ostringstream out;
    dict.save(out, libime::TableFormat::Binary);
    return std::move(out).str();
  } catch (const std::bad_alloc&) {
    return Status::NoMemory("fcitx5 dictionary");
  } catch (const std::exception& e) {
    return Status::InvalidArgument("fcitx5 dictionary", e.what());
  }
}

}  // namespace mirel::linux_table
