#include "AppInfo.h"

namespace app {

const char* ApplicationTitle() { return "Agendar IVA"; }

}  // namespace app
