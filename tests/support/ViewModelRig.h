#pragma once

#include <QDateTime>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>

#include "agent/AgentViewModel.h"
#include "monitor/AgentHealthSnapshot.h"
#include "tests/support/AgentSocket.h"
#include "tests/support/FakeHealthReader.h"
#include "tests/support/FakeLogReader.h"
#include "tests/support/FakeServiceController.h"
#include "tests/support/FakeTokenStore.h"

namespace quorvane::testing {

// What the panel finds around it: the registration, the agent (listening or not, its health
// and log), the stored token and folders, the user. Each field has a default, so a designated
// initializer names only what differs.
struct PanelScenario {
    AgentServiceState registration = AgentServiceState::stopped();
    bool agentListening = false;
    std::optional<AgentHealthSnapshot> health{};
    QStringList agentLog{};
    std::optional<QString> token{};
    bool keyringLocked = false;
    // Another secret store instead of the double the two fields above set up.
    std::shared_ptr<const AgentTokenStoring> tokenStore{};
    // The folder chooser's answer; nothing: the temporary folder.
    std::optional<QString> chosenFolder{};
    // Replaces the chooser that answers `chosenFolder` at once, e.g. by one that stays open.
    std::function<std::optional<QString>()> chooseFolder{};
    AgentViewModel::AuthorizeToken authorizeToken = [] {};
    bool ownsPanelName = true;
    QList<WorkspaceRootConfiguration> workspaceRoots{};
    // The configuration file's bytes as found, instead of the folders above.
    std::optional<QByteArray> configurationFile{};
    QString fullUserName = QStringLiteral("Анна Смирнова");
    QString userName = QStringLiteral("anna");

    // The agent registered, connected and reporting `status` (with `message`) in its health.
    static PanelScenario reporting(const QString& status,
                                   std::optional<QString> message = std::nullopt);
};

// The one view model of the tests: the real one over test doubles, a real configuration file
// and a real lease, in a temporary folder of its own. The token's state is loaded when the
// constructor returns.
class ViewModelRig {
public:
    explicit ViewModelRig(const PanelScenario& scenario = {});

    AgentViewModel& model() { return *model_; }
    FakeServiceController& controller() { return *controller_; }
    FakeHealthReader& health() { return *health_; }
    FakeLogReader& log() { return *log_; }
    FakeTokenStore& tokens() { return *tokens_; }
    AgentConfigurationStore store() const;
    // The agent starts listening on its socket (once).
    AgentSocket& listen();
    AgentSocket* agent() { return agent_.get(); }

    // The clock the view model reads.
    QDateTime clock{QDate(2024, 5, 1), QTime(9, 5, 7)};

private:
    QTemporaryDir home_;
    std::unique_ptr<AgentSocket> agent_;
    std::shared_ptr<FakeTokenStore> tokens_ = std::make_shared<FakeTokenStore>();
    std::shared_ptr<const AgentTokenStoring> tokenStore_;
    FakeServiceController* controller_ = nullptr;
    FakeHealthReader* health_ = nullptr;
    FakeLogReader* log_ = nullptr;
    std::unique_ptr<AgentViewModel> model_;
};

}  // namespace quorvane::testing
