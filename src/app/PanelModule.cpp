#include "app/PanelModule.h"

#include <string_view>

#include "app/PanelApplication.h"
#include "app/QuorvaneApp.h"
#include "config/AgentContract.h"

// The executable is C and cannot include the contract the agent is built against.
static_assert(
    std::string_view(QUORVANE_READ_AGENT_TOKEN_ARGUMENT) ==
    std::string_view(quorvane::AgentContract::readAgentTokenArgument.data(),
                     std::size_t(quorvane::AgentContract::readAgentTokenArgument.size())));

extern "C" __attribute__((visibility("default"))) int quorvane_run_panel(int* argc, char** argv) {
    return quorvane::runPanel(*argc, argv);
}
