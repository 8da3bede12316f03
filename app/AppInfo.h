#pragma once
// What the program says about itself, and its start-up settings.

class QApplication;

namespace app {

// The application title: a short title of the tool. It captions the window
// and the default error display.
const char* ApplicationTitle();

// Gives the application its title and the look the window is laid out for
// (Qt's Fusion style, whatever the desktop's).
void InitApplication(QApplication& application);

}  // namespace app
