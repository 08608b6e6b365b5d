#pragma once

#include <QString>
#include <memory>
#include <optional>

#include "agent/AgentViewModel.h"
#include "agent/AgentViewModelEnvironment.h"

namespace quorvane {

// Builds the panel's one view model with its production collaborators.
class AgentViewModelFactory {
public:
    // The parent of the folder holding the running executable: the install prefix, or the
    // build tree, which is laid out the same way.
    static QString installPrefix();
    // The system environment with the desktop's folder dialog as the folder chooser.
    static AgentViewModelEnvironment environment();
    // Modal folder dialog; nothing when the user cancels.
    static std::optional<QString> chooseWorkspaceFolder();
    // Unlocks the secret store with the desktop's prompt allowed, discarding the token.
    static AgentViewModel::AuthorizeToken authorizeToken();
    // Tests hand in an environment of their own, such as a folder chooser that answers at once.
    static std::unique_ptr<AgentViewModel> create(
        AgentViewModelEnvironment environment = AgentViewModelFactory::environment());
};

}  // namespace quorvane
