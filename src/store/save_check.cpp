#include "store/save_check.h"

#include "platform/messages.h"
#include "platform/utf16.h"
#include "store/table_store.h"

namespace mirel {

std::string SaveCheck::DescribeRows(size_t shown) const {
  if (rowsDropped == 0) return {};
  std::string rows;
  size_t listed = 0;
  for (const SaveFinding& f : findings) {
    if (listed == shown) break;
    if (listed > 0) rows += "; ";
    rows += f.line != 0 ? Tr("line {1}: {2}", f.line, f.text) : f.text;
    ++listed;
  }
  if (rowsDropped > listed) rows += "; " + Tr("{1} more", rowsDropped - listed);
  return TrN("{1} row cannot be written in this format ({2})",
             "{1} rows cannot be written in this format ({2})", rowsDropped, rowsDropped, rows);
}

SaveCheck CheckTextSave(const TableStore& store) {
  SaveCheck check;
  if (!store.IsOpen() || store.fromCompiled() || store.currentPath().empty()) return check;
  if (store.encoding() != check.encodingTo) check.encodingFrom = store.encoding();
  const LinesWithoutTab& left = store.linesWithoutTab();
  check.linesDropped = left.count();
  for (size_t k = 0; k < left.numbers().size(); ++k) {
    check.findings.push_back(
        {left.numbers()[k], k < left.texts().size() ? Utf16ToUtf8(left.texts()[k]) : ""});
  }
  return check;
}

std::string_view EncodingLabel(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::kUtf8Bom:
      return "UTF-8 (BOM)";
    case TextEncoding::kUtf16Le:
      return "UTF-16LE";
    case TextEncoding::kUtf16Be:
      return "UTF-16BE";
    case TextEncoding::kUtf8:
      return "UTF-8";
    case TextEncoding::kLegacy:
      return "GBK";
  }
  return {};
}

}  // namespace mirel
