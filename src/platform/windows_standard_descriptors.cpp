// Standard handles on Windows. A process started without one has no handle
// there at all, and a file opened later never becomes one: nothing to
// repair, and the report to a missing handle is simply lost.
#include "platform/standard_descriptors.h"

namespace kestrane::platform {

void open_closed_standard_descriptors() {}

}  // namespace kestrane::platform
