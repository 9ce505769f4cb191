#include "app/table_tools.h"

#include <new>

namespace mirel {
namespace {

Status Reorder(TableStore& store, const TableToolRequest& request, TableToolReport& report) {
  TableOrder order =
      request.tool == TableTool::kSortByFrequency ? TableOrder::kFrequency : request.order;
  switch (order) {
    case TableOrder::kSource:
      store.SortBySource();
      break;
    case TableOrder::kCode1:
      store.SortByCode(1);
      break;
    case TableOrder::kCode2:
      store.SortByCode(2);
      break;
    case TableOrder::kEntry1:
      store.SortByEntry(1);
      break;
    case TableOrder::kEntry2:
      store.SortByEntry(2);
      break;
    case TableOrder::kFrequency: {
      Result<LinesWithoutTab> sorted = store.SortByFrequency(request.frequencyFile);
      if (!sorted.IsOk()) return sorted.status();
      report.frequencyLinesWithoutTab = std::move(sorted).value();
      break;
    }
  }
  return Status::Ok();
}

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
      Status status = Reorder(store, request, report);
      if (!status.IsOk()) return status;
      break;
    }
  }
  store.ClearDirty();
  Status written = store.WriteTableText(request.output);
  if (!written.IsOk()) return written;
  report.rowsWritten = store.RowCount();
  return report;
}

}  // namespace

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
