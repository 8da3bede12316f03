#pragma once

namespace app {

// The application title, also the window caption.
const char* ApplicationTitle();

}  // namespace app
