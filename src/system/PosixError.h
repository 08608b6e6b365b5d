#pragma once

#include <system_error>

namespace quorvane::PosixError {

// Errno codes whose messages are plain Russian for the common causes (a full disk, missing
// rights, a read-only disk) and the platform's text for the rest.
const std::error_category& category();

// A POSIX failure in category(); 0 (the code is not known) becomes EIO.
std::system_error fromCode(int code);
[[noreturn]] void throwErrno();

}  // namespace quorvane::PosixError
