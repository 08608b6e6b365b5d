#pragma once

#include <system_error>

namespace quorvane::PosixError {

// A POSIX failure with the platform's text for the code as its message; 0 (the code is not
// known) becomes EIO.
std::system_error fromCode(int code);
[[noreturn]] void throwErrno();

}  // namespace quorvane::PosixError
