// Saves a picture of an X window, for the screenshot the AppStream metadata
// shows: grab_window WINDOW-ID OUT.png, run with DISPLAY set.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: grab_window WINDOW-ID OUT.png\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  bool ok = false;
  const WId id = QString::fromLatin1(argv[1]).toULongLong(&ok, 0);
  if (!ok) {
    std::fprintf(stderr, "grab_window: not a window id: %s\n", argv[1]);
    return 2;
  }
  const QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(id);
  if (picture.isNull() || !picture.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
    std::fprintf(stderr, "grab_window: could not save %s\n", argv[2]);
    return 1;
  }
  std::printf("%dx%d\n", picture.width(), picture.height());
  return 0;
}
