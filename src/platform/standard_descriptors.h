// The standard descriptors a process may be started without.
#pragma once

namespace kestrane::platform {

// Opens each closed standard descriptor (input, output, error) on the null
// device, so that no file the run opens later can become one and receive
// the report. The first thing the tool does.
void open_closed_standard_descriptors();

}  // namespace kestrane::platform
