// What the process was started with, captured before main: its arguments and
// the path of its executable. Neither needs /proc nor a free descriptor later.
#pragma once

#include <string>
#include <vector>

namespace Platform {

// The arguments as the process received them, bytes as they came.
const std::vector<std::string>& StartArguments();

// The executable's absolute path as it was at start (empty when unknown).
const std::string& ExecutablePath();

} // namespace Platform
