#pragma once

#include <sys/stat.h>

namespace quorvane {

// Tells one version of a file from another without reading it: a file replaced by a rename is
// another inode, one rewritten in place has another size or modification time (to the
// nanosecond).
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    time_t modifiedSeconds = 0;
    long modifiedNanoseconds = 0;

    static FileIdentity of(const struct stat& status) {
        return {status.st_dev, status.st_ino, status.st_size, status.st_mtim.tv_sec,
                status.st_mtim.tv_nsec};
    }

    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

}  // namespace quorvane
