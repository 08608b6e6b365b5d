#include "app/PanelModule.h"

#include "app/PanelApplication.h"

extern "C" __attribute__((visibility("default"))) int quorvane_run_panel(int* argc, char** argv) {
    return quorvane::runPanel(*argc, argv);
}
