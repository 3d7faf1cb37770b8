// Writes the dialog program's icon as the PNG files of the desktop menu:
//   menu_icons FOLDER SIZE...   makes FOLDER/SIZExSIZE/apps/tarnvel.png for every SIZE.
// Runs at build time on the offscreen platform, so it needs no display.
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>

#include "gui/program_icon.h"

int main(int argc, char* argv[]) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FOLDER SIZE...\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QDir root(QString::fromLocal8Bit(argv[1]));
  for (int i = 2; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size < 16 || size > 512) {
      std::fprintf(stderr, "%s: icon size %s is not from 16 to 512\n", argv[0], argv[i]);
      return 2;
    }
    const QString folder = QStringLiteral("%1x%1/apps").arg(size);
    if (!root.mkpath(folder) ||
        !tarnvel::gui::ProgramIconFace(size).save(root.filePath(folder + "/tarnvel.png"), "PNG")) {
      std::fprintf(stderr, "%s: cannot write the %dx%d icon under %s\n", argv[0], size, size,
                   argv[1]);
      return 1;
    }
  }
  return 0;
}
