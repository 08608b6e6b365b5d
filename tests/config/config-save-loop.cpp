// Saves the two test configurations in turn until killed:  config-save-loop FILE FIRST-TURN
#include <QFile>
#include <cstdio>
#include <cstdlib>

#include "ConfigurationTestSupport.h"
#include "config/AgentConfigurationStore.h"
#include "tests/support/FakeTokenStore.h"

using namespace quorvane;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: config-save-loop FILE FIRST-TURN\n", stderr);
        return 2;
    }
    const AgentConfigurationStore store(QFile::decodeName(argv[1]),
                                        std::make_shared<testing::FakeTokenStore>());
    std::puts("saving");
    std::fflush(stdout);
    for (int turn = std::atoi(argv[2]);; ++turn) {
        store.save(testing::saveLoopConfiguration(turn));
    }
}
