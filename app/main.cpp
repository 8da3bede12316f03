#include <QApplication>

#include "AppInfo.h"
#include "WinForm.h"
#include "_main.h"

// The program entry: the application, its title, the main window, the
// message loop. The main window is a top-level window of its own, so it has
// the taskbar button; closing it ends the loop and the program.
int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  app::InitApplication(application);
  const auto window = app::CreateForm<app::Tmain>();
  window->show();
  return application.exec();
}
