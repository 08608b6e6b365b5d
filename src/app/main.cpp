#include "app/PanelApplication.h"

int main(int argc, char* argv[]) {
    return quorvane::runPanel(argc, argv);
}
