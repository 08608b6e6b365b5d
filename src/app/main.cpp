#include "app/QuorvaneApp.h"

int main(int argc, char* argv[]) {
    quorvane::QuorvaneApp application(argc, argv);
    return application.exec();
}
