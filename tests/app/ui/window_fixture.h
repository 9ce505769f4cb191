// The editor's main window over a store in a fresh folder, with the
// questions and pickers answered by FakeUiServices; the Qt Test classes call
// Open() from init() and Close() from cleanup().
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "app/ui/main_window.h"
#include "fake_ui_services.h"
#include "platform/temp_folder.h"
#include "store/table_store.h"
#include "support/test_support.h"

namespace mirel::test {

inline std::string ReadFile(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const QString& path, const std::string& bytes) {
  std::ofstream out(path.toStdString(), std::ios::binary);
  out << bytes;
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
};

}  // namespace mirel::test
