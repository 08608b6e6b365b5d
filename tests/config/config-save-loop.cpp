// Saves two configurations in turn until it is killed; the crash-consistency test runs it.
//   config-save-loop FILE first|second
#include <QFile>
#include <cstdio>
#include <cstring>

#include "SaveLoopConfigurations.h"
#include "config/AgentConfigurationStore.h"
#include "tests/support/FakeTokenStore.h"

using namespace quorvane;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: config-save-loop FILE first|second\n", stderr);
        return 2;
    }
    const AgentConfigurationStore store(QFile::decodeName(argv[1]),
                                        std::make_shared<testing::FakeTokenStore>());
    const AgentConfiguration configurations[] = {testing::SaveLoop::first(),
                                                 testing::SaveLoop::second()};
    std::puts("saving");
    std::fflush(stdout);
    for (unsigned turn = std::strcmp(argv[2], "second") == 0;; ++turn) {
        store.save(configurations[turn % 2]);
    }
}
