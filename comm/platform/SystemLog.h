#pragma once

#include <functional>
#include <string>

namespace ostrelcomm {

// The system log: why a request of the application was refused, written to
// standard error. It is not the engine's event log and never carries secrets.
void systemLog(const std::string& message);

// Where system log lines go; an empty sink restores standard error. Returns
// the sink that was in place, so a caller can put it back.
using SystemLogSink = std::function<void(const std::string& message)>;
SystemLogSink setSystemLogSink(SystemLogSink sink);

}  // namespace ostrelcomm
