#pragma once
// The opt-in log sink. When the environment variable QUELMAR_LOG names a
// level (off, error, warn, info, debug or trace, in any case) at the first
// import of the module in a process, the library's events at that level and
// above are written to standard error, one line each: "[LEVEL target]
// message". Without the variable (or with it empty) nothing is installed and
// events stay unformatted and unseen; an unknown value is reported once and
// ignored.

namespace quelmar::exposure {

// Reads QUELMAR_LOG and installs the sink; later calls do nothing.
void install_log_sink_from_environment() noexcept;

}  // namespace quelmar::exposure
