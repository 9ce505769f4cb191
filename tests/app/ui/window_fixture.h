// The editor's main window over a store in a fresh folder, with the
// questions and pickers answered by FakeUiServices; the Qt Test classes call
// Open() from init() and Close() from cleanup().
#pragma once

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>

#include "app/ui/main_window.h"
#include "fake_ui_services.h"
#include "platform/temp_folder.h"
#include "store/table_store.h"
#include "support/test_support.h"

using namespace Qt::Literals::StringLiterals;

namespace mirel::test {

// Runs `act` on the next modal dialog, a D, as soon as it shows.
template <class D = QDialog>
void OnNextDialog(std::function<void(std::type_identity_t<D>*)> act) {
  QTimer::singleShot(0, [act] {
    auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
    QVERIFY(dialog != nullptr);
    act(dialog);
  });
}

inline std::string ReadFile(const QString& path) { return ReadBytes(path.toStdString()); }
inline void WriteFile(const QString& path, const std::string& bytes) {
  WriteBytes(path.toStdString(), bytes);
}

struct WindowFixture {
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<TempFolder> temp_;
  std::unique_ptr<TableStore> store_;
  std::unique_ptr<FakeUiServices> services_;
  std::unique_ptr<MainWindow> window_;

  void Open() {
    dir_ = std::make_unique<QTemporaryDir>();
    auto temp = TempFolder::OpenIn(dir_->path().toStdString());
    QVERIFY(temp.IsOk());
    temp_ = std::move(temp).value();
    store_ = std::make_unique<TableStore>(DiskFs(), *temp_);
    services_ = std::make_unique<FakeUiServices>();
    window_ = std::make_unique<MainWindow>(*store_, *services_, dir_->path().toStdString());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }
  void Close() {
    window_.reset();
    store_.reset();
    temp_.reset();
    dir_.reset();
  }

  QString At(const QString& name) const { return dir_->filePath(name); }
  // Entries of the whole table, in order.
  QStringList Entries() const {
    QStringList entries;
    for (uint32_t i = 0; i < store_->RowCount(); ++i) {
      const std::u16string_view row = store_->DataRowText(i);
      entries << QString::fromStdU16String(std::u16string(row.substr(0, row.find(u'\t'))));
    }
    return entries;
  }
  QStringList VisibleEntries() const {
    QStringList entries;
    for (int v = 0; v < window_->model().itemCount(); ++v) {
      entries << window_->model().index(v, 1).data().toString();
    }
    return entries;
  }
  QString Label(const char* name) const {
    return window_->findChild<QLabel*>(QString::fromLatin1(name))->text();
  }
};

}  // namespace mirel::test
