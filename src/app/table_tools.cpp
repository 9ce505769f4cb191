#include "app/table_tools.h"

#include <new>

namespace mirel {
namespace {

Result<TableToolReport> RunOnOpenTable(TableStore& store, const TableToolRequest& request,
                                       TableToolReport report) {
  switch (request.tool) {
    case TableTool::kExtractSingle: {
      Result<uint32_t> written = store.ExportSingleCharacters(request.output);
      if (!written.IsOk()) return written.status();
      report.rowsWritten = written.value();
      return report;
    }
    case TableTool::kExportFrequency: {
      Status status = store.ExportInstantFrequency(request.output);
      if (!status.IsOk()) return status;
      report.rowsWritten = store.RowCount();
      return report;
    }
    case TableTool::kRemoveDuplicates:
      store.RemoveDuplicates();
      break;
    case TableTool::kSortByFrequency:
    case TableTool::kSort: {
      const Ordering order =
          request.tool == TableTool::kSortByFrequency ? Ordering::kFrequency : request.order;
      Result<LinesWithoutTab> sorted = SortTable(store, order, request.frequencyFile);
      if (!sorted.IsOk()) return sorted.status();
      report.frequencyLinesWithoutTab = std::move(sorted).value();
      break;
    }
  }
  store.ClearDirty();
  Status written = store.WriteTableText(request.output);
  if (!written.IsOk()) return written;
  report.rowsWritten = store.RowCount();
  return report;
}

constexpr OrderingName kOrderingNames[] = {
    {Ordering::kSource, "source", u"原始序"},  {Ordering::kCode1, "code1", u"编码序1"},
    {Ordering::kCode2, "code2", u"编码序2"},   {Ordering::kEntry1, "entry1", u"词条序1"},
    {Ordering::kEntry2, "entry2", u"词条序2"}, {Ordering::kFrequency, "freq", u"依据词频表"}};

}  // namespace

std::span<const OrderingName> OrderingNames() { return kOrderingNames; }

std::optional<Ordering> OrderingFromCli(std::string_view cli) {
  for (const OrderingName& name : kOrderingNames) {
    if (name.cli == cli) return name.ordering;
  }
  return std::nullopt;
}

std::u16string_view ShownName(Ordering ordering) {
  for (const OrderingName& name : kOrderingNames) {
    if (name.ordering == ordering) return name.shown;
  }
  return {};
}

Result<LinesWithoutTab> SortTable(TableStore& store, Ordering ordering,
                                  const std::filesystem::path& frequencyFile) {
  switch (ordering) {
    case Ordering::kSource:
      store.SortBySource();
      break;
    case Ordering::kCode1:
    case Ordering::kCode2:
      store.SortByCode(ordering == Ordering::kCode1 ? 1 : 2);
      break;
    case Ordering::kEntry1:
    case Ordering::kEntry2:
      store.SortByEntry(ordering == Ordering::kEntry1 ? 1 : 2);
      break;
    case Ordering::kFrequency:
      return store.SortByFrequency(frequencyFile);
  }
  return LinesWithoutTab{};
}

Result<TableToolReport> RunTableTool(TableStore& store, const TableToolRequest& request) try {
  Result<uint32_t> loaded = store.LoadTable(request.source, request.anyName);
  if (!loaded.IsOk()) return loaded.status();
  TableToolReport report;
  report.rowsRead = store.RowCount();
  report.linesWithoutTab = store.linesWithoutTab();
  Result<TableToolReport> result = RunOnOpenTable(store, request, report);
  store.CloseTable();
  return result;
} catch (const std::bad_alloc&) {
  return Status::NoMemory(request.source.string());
}

}  // namespace mirel
