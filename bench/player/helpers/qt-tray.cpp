// qt-tray: the least a Qt Widgets tray program is, for the memory figures: a QApplication with one
// tray icon (a plain 22 px square) and nothing else, idle in its event loop until killed. Whatever
// a Qt tray player holds beyond this is its own.
// Build: g++ -O2 -fPIC -o qt-tray qt-tray.cpp $(pkg-config --cflags --libs Qt6Widgets)
#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QPixmap square(22, 22);
  square.fill(Qt::darkBlue);
  QSystemTrayIcon tray{QIcon(square)};
  tray.show();
  return QApplication::exec();
}
