#include <sys/prctl.h>

#include "app/QuorvaneApp.h"

int main(int argc, char* argv[]) {
    // The token passes through this process (the token-output mode, the token field): no core
    // dump may hold it, and no other process of the user may read its memory.
    ::prctl(PR_SET_DUMPABLE, 0);
    quorvane::QuorvaneApp application(argc, argv);
    return application.exec();
}
