// Writes the program's icon at each size asked for, as
// DIR/<size>x<size>/NAME.png, for the hicolor icon theme:
//   trelvi-gui-icons DIR NAME 48 128 256
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>
#include <cstdlib>

#include "ui/qt/artwork.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s DIR NAME SIZE...\n", argv[0]);
    return 2;
  }
  // A build step: no screen, whatever the environment says.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QString dir = QString::fromLocal8Bit(argv[1]);
  const QString name = QString::fromLocal8Bit(argv[2]);
  for (int i = 3; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size < 16 || size > 1024) {
      std::fprintf(stderr, "bad icon size %s\n", argv[i]);
      return 2;
    }
    const QString folder = dir + QStringLiteral("/%1x%1").arg(size);
    const QString file =
        folder + QStringLiteral("/") + name + QStringLiteral(".png");
    if (!QDir().mkpath(folder) ||
        !trelvi::gui::AppIconImage(size).save(file, "PNG")) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
