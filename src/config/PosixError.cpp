#include "config/PosixError.h"

#include <cerrno>

namespace quorvane::PosixError {

std::system_error fromCode(int code) {
    return std::system_error(code != 0 ? code : EIO, std::generic_category());
}

void throwErrno() {
    throw fromCode(errno);
}

}  // namespace quorvane::PosixError
