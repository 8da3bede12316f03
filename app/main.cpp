#include <QApplication>
#include <QMessageBox>

#include "AppInfo.h"

// The window comes with its own change; until then the program only starts
// and ends.
int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  application.setApplicationName(app::ApplicationTitle());
  return 0;
}
