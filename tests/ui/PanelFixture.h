#pragma once

#include <QQuickItem>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>

#include "agent/AgentViewModel.h"
#include "monitor/AgentHealthSnapshot.h"
#include "tests/support/FakeServiceController.h"
#include "tests/ui/WindowDriver.h"
#include "ui/MainWindow.h"

namespace quorvane::testing {

// What the panel finds around it: the registration, the agent (listening or not, its health
// and log), the stored token and folders, and the user.
struct PanelScenario {
    AgentServiceState registration = AgentServiceState::stopped();
    bool agentListening = false;
    std::optional<AgentHealthSnapshot> health;
    QStringList agentLog;
    std::optional<QString> token;
    bool keyringLocked = false;
    bool keyringRefusesSave = false;
    // A real secret store instead of the double the three fields above set up.
    std::shared_ptr<const AgentTokenStoring> tokenStore;
    // The folder chooser's answer, and the desktop's unlock request for the token.
    std::optional<QString> chosenFolder;
    // Replaces the chooser that answers `chosenFolder` at once, e.g. by one that stays open.
    std::function<std::optional<QString>()> chooseFolder;
    AgentViewModel::AuthorizeToken authorizeToken = [] {};
    QList<WorkspaceRootConfiguration> workspaceRoots;
    QString fullUserName = QStringLiteral("Анна Смирнова");
    QString userName = QStringLiteral("anna");
    QString shortVersion = QStringLiteral("1.2");
    QString buildNumber = QStringLiteral("45");

    // The agent registered, connected and reporting `status` (with `message`) in its health.
    static PanelScenario reporting(const QString& status,
                                   std::optional<QString> message = std::nullopt);
};

// The real window and view model around test doubles, in a temporary folder of its own, and a
// driver of that window. The window is shown and has run its first refresh when the
// constructor returns.
class PanelFixture : public WindowDriver {
public:
    explicit PanelFixture(const PanelScenario& scenario);
    ~PanelFixture();

    AgentViewModel& model() { return *model_; }
    FakeServiceController& controller() { return *controller_; }
    QQuickWindow& window() { return mainWindow_->window(); }

    bool sheetIsOpen();

private:
    QTemporaryDir home_;
    int listener_ = -1;
    FakeServiceController* controller_ = nullptr;
    std::unique_ptr<AgentViewModel> model_;
    std::unique_ptr<MainWindow> mainWindow_;
};

}  // namespace quorvane::testing
