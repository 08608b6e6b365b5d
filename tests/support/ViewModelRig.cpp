#include "tests/support/ViewModelRig.h"

#include <QFile>
#include <QSignalSpy>
#include <stdexcept>

namespace quorvane::testing {

PanelScenario PanelScenario::reporting(const QString& status, std::optional<QString> message) {
    return {.registration = AgentServiceState::running(),
            .agentListening = true,
            .health = AgentHealthSnapshot{QStringLiteral("1.0.0"), status, std::move(message),
                                          QStringLiteral("2025-01-01T00:00:00Z")}};
}

ViewModelRig::ViewModelRig(const PanelScenario& scenario) {
    if (!home_.isValid()) {
        throw std::runtime_error("no temporary folder");
    }
    if (scenario.agentListening) {
        listen();
    }
    tokens_->token = scenario.token;
    tokens_->refusesRead = scenario.keyringLocked;
    tokenStore_ = scenario.tokenStore ? scenario.tokenStore : tokens_;
    if (!scenario.workspaceRoots.isEmpty()) {
        store().save(AgentConfiguration{std::nullopt, scenario.workspaceRoots});
    }
    if (QFile file(store().fileURL());
        scenario.configurationFile &&
        (!file.open(QIODevice::WriteOnly) || file.write(*scenario.configurationFile) < 0)) {
        throw std::runtime_error("cannot write the configuration file");
    }

    AgentViewModelEnvironment environment;
    environment.now = [this] { return clock; };
    environment.chooseFolder = scenario.chooseFolder
                                   ? scenario.chooseFolder
                                   : [folder = scenario.chosenFolder.value_or(home_.path())] {
                                         return std::optional(folder);
                                     };
    environment.shortVersion = QStringLiteral("1.2");
    environment.buildNumber = QStringLiteral("45");
    environment.fullUserName = scenario.fullUserName;
    environment.userName = scenario.userName;
    environment.ownsPanelName = [owns = scenario.ownsPanelName] { return owns; };

    auto controller = std::make_unique<FakeServiceController>(scenario.registration);
    auto health = std::make_unique<FakeHealthReader>(scenario.health);
    auto log = std::make_unique<FakeLogReader>(scenario.agentLog);
    controller_ = controller.get();
    health_ = health.get();
    log_ = log.get();
    model_ = std::make_unique<AgentViewModel>(
        std::move(controller),
        std::make_unique<AgentGUILease>(home_.filePath(QStringLiteral("agent-gui.sock"))),
        std::move(health), std::move(log), store(), scenario.authorizeToken,
        std::move(environment));
    // The token's state arrives from a worker; every load publishes it.
    QSignalSpy loaded(model_.get(), &AgentViewModel::tokenStatusChanged);
    if (!loaded.wait(5000)) {
        throw std::runtime_error("the token's state was not loaded");
    }
}

AgentConfigurationStore ViewModelRig::store() const {
    return AgentConfigurationStore(home_.filePath(QStringLiteral("quorvane-agent.conf")),
                                   tokenStore_);
}

AgentSocket& ViewModelRig::listen() {
    if (!agent_) {
        agent_ = std::make_unique<AgentSocket>(home_.filePath(QStringLiteral("agent-gui.sock")));
    }
    return *agent_;
}

}  // namespace quorvane::testing
