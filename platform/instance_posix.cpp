#include "platform/instance.h"

namespace platform {

// No installer runs beside the launcher here.
void announceRunningLauncher() {}

} // namespace platform
