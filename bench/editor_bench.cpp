// Times what the editor window adds to the store on a large table: opening,
// one filter keystroke and scrolling from the top to the end, each next to
// the store's own time for the same work; then undoing an ordering and a
// de-duplication, and one step of the find bar. Runs on the offscreen
// platform unless QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/editor_commands.h"
#include "app/ui/main_window.h"
#include "bench_common.h"

const char* const mirel_bench::kProgram = "editor_bench";

using namespace mirel_bench;

namespace {

constexpr int kFilterRuns = 5;  // rounds of kRuns each

// Paints everything pending, as the screen would show it.
void Settle(mirel::MainWindow& window) {
  window.entryList()->viewport()->repaint();
  QApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t rows;
  fs::path base;
  if (int code = ParseArguments(argc, argv, rows, base); code >= 0) return code;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const fs::path dir = MakeScratchFolder(base);
  if (dir.empty()) return 1;
  try {
    Rng rng(kSeed);
    const fs::path table = dir / "table.txt";
    {
      GeneratedTable generated = GenerateTable(rows, rng);
      WriteFile(table, generated.text);
    }
    auto temp = Check(mirel::TempFolder::OpenIn(dir), "TempFolder");
    mirel::TableStore store(BenchFs(), *temp);
    mirel::DesktopUiServices services;
    mirel::MainWindow window(store, services, dir);
    window.show();
    Settle(window);

    const double storeOpen = BestOf(NoSetup, [&] { Check(store.LoadTable(table), "LoadTable"); });
    const double windowOpen = BestOf(NoSetup, [&] {
      if (!window.OpenTable(table)) throw BenchError("OpenTable failed");
      Settle(window);
    });
    auto clearFilter = [&] {
      window.filterBox()->clear();
      Settle(window);
    };
    // The two are taken in turns, so that a machine busy with other work
    // slows both alike, and more often than the rest: they are short.
    double storeFilter = 0, windowFilter = 0;
    for (int k = 0; k < kFilterRuns; ++k) {
      const double s =
          BestOf(clearFilter, [&] { Check(store.ApplyFilter(u"a", false), "ApplyFilter"); });
      const double w = BestOf(clearFilter, [&] {
        window.filterBox()->setText(QStringLiteral("a"));
        Settle(window);
      });
      storeFilter = k == 0 ? s : std::min(storeFilter, s);
      windowFilter = k == 0 ? w : std::min(windowFilter, w);
    }
    window.filterBox()->clear();
    Settle(window);
    QScrollBar* bar = window.entryList()->verticalScrollBar();
    constexpr int kSteps = 100;
    const double scroll = BestOf(
        [&] {
          bar->setValue(0);
          Settle(window);
        },
        [&] {
          // As dragging the scroll bar to the end would: a hundred painted stops.
          for (int k = 1; k <= kSteps; ++k) {
            bar->setValue(static_cast<int>(static_cast<int64_t>(bar->maximum()) * k / kSteps));
            Settle(window);
          }
        });
    const double page = BestOf(NoSetup, [&] {
      bar->setValue(bar->maximum() / 2);
      Settle(window);
    });

    // Undo: the editor's own step (the store's work), then the window's
    // Ctrl+Z, which also filters again and paints.
    using namespace mirel::command;
    mirel::TableEditor& editor = window.editor();
    auto command = [&](int number) {
      if (!window.Dispatch(number)) throw BenchError("command not run");
      Settle(window);
    };
    const double undoOrder =
        BestOf([&] { command(kCodeOrder1); }, [&] { Check(editor.Undo(), "Undo"); });
    window.Refresh();
    const double undoOrderWindow = BestOf([&] { command(kCodeOrder1); }, [&] { command(kUndo); });
    const double undoDuplicates =
        BestOf([&] { command(kRemoveDuplicates); }, [&] { Check(editor.Undo(), "Undo"); });
    window.Refresh();
    const double undoDuplicatesWindow =
        BestOf([&] { command(kRemoveDuplicates); }, [&] { command(kUndo); });
    Expect(store.RowCount(), rows, "rows after undoing the de-duplication");

    // Find: an entry character that some rows hold, then one nobody holds
    // (the step reads every row). The count is made when the text changes.
    std::u16string entry = std::u16string(store.DataRowText(store.RowCount() / 2));
    window.Dispatch(kFind);
    window.findBox()->setText(QString::fromStdU16String(entry.substr(0, 1)));
    Settle(window);
    const double findStep = BestOf(NoSetup, [&] { command(kFindNext); });
    const double findTyped = BestOf([&] { window.findBox()->clear(); },
                                    [&] {
                                      window.findBox()->setText(QStringLiteral("～"));
                                      Settle(window);
                                    });
    const double findMiss = BestOf(NoSetup, [&] { command(kFindNext); });
    const double storeFindMiss = BestOf(NoSetup, [&] {
      if (store.FindInEntries(u"～", 0, true) != mirel::TableStore::kNoRow) {
        throw BenchError("a row holds the text looked for");
      }
    });

    std::printf("%s: %llu rows, seed 0x%llx, offscreen window 800 x 600, best of %d runs (ms)\n",
                kProgram, static_cast<unsigned long long>(rows),
                static_cast<unsigned long long>(kSeed), kRuns);
    std::printf("  %-44s %9.1f   store LoadTable %9.1f\n", "open (load, refresh, paint)",
                windowOpen, storeOpen);
    std::printf("  %-44s %9.1f   store ApplyFilter %7.1f\n",
                "filter keystroke \"a\" (refresh, paint)", windowFilter, storeFilter);
    std::printf("  %-44s %9.1f\n", "scroll top to end (100 painted stops)", scroll);
    std::printf("  %-44s %9.1f\n", "jump to the middle and paint one screen", page);
    std::printf("  %-44s %9.1f   window Ctrl+Z %9.1f\n", "undo code order 1 (editor)", undoOrder,
                undoOrderWindow);
    std::printf("  %-44s %9.1f   window Ctrl+Z %9.1f\n", "undo 删除重复 (editor)", undoDuplicates,
                undoDuplicatesWindow);
    std::printf("  %-44s %9.1f\n", "find step F3 (next row holding it)", findStep);
    std::printf("  %-44s %9.1f\n", "find text typed, no row holds it (count)", findTyped);
    std::printf("  %-44s %9.1f   store FindInEntries %3.1f\n", "find step F3, no row holds it",
                findMiss, storeFindMiss);
    std::printf("ratios and limits\n");
    PrintRatio("open: window / store", windowOpen / storeOpen, "<=", 1.2);
    PrintRatio("filter keystroke: window / store", windowFilter / storeFilter, "<=", 1.2);
    PrintRatio("undo code order 1, window (ms)", undoOrderWindow, "<", 100);
    PrintRatio("find step, whole table (ms)", findMiss, "<", 50);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
    fs::remove_all(dir);
    return 1;
  }
  fs::remove_all(dir);
  return 0;
}
