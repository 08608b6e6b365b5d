#include <sys/prctl.h>
#include <sys/stat.h>

#include "app/QuorvaneApp.h"

int main(int argc, char* argv[]) {
    // Before anything can create a file: nothing of this program is for other users (Qt's caches
    // among it), whatever umask the caller left.
    umask(077);
    // The token passes through this process (the token-output mode, the token field): no core
    // dump may hold it, and no other process of the user may read its memory.
    prctl(PR_SET_DUMPABLE, 0);
    return quorvane_app_run(argc, argv);
}
