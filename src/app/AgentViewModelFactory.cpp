#include "app/AgentViewModelFactory.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include "agent/AgentGUILease.h"
#include "agent/AgentServiceController.h"
#include "config/AgentConfigurationStore.h"
#include "keychain/KeychainAgentTokenStore.h"
#include "monitor/AgentHealthReader.h"
#include "monitor/AgentLogReader.h"

namespace quorvane {

namespace {

// Lets the secret store prompt for as long as it lives; on the authorisation's worker thread.
class UserInteractionAllowance {
public:
    UserInteractionAllowance() { KeychainAgentTokenStore::setUserInteractionAllowed(true); }
    ~UserInteractionAllowance() { KeychainAgentTokenStore::setUserInteractionAllowed(false); }
    UserInteractionAllowance(const UserInteractionAllowance&) = delete;
    UserInteractionAllowance& operator=(const UserInteractionAllowance&) = delete;
};

}  // namespace

QString AgentViewModelFactory::installPrefix() {
    const QFileInfo executable(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
    QDir prefix = executable.absoluteDir();
    prefix.cdUp();
    return prefix.absolutePath();
}

std::optional<QString> AgentViewModelFactory::chooseWorkspaceFolder() {
    QFileDialog dialog(nullptr, QStringLiteral("Выберите папку Quorvane Workspace"),
                       QDir::homePath());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Выбрать"));
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().constFirst();
}

AgentViewModel::AuthorizeToken AgentViewModelFactory::authorizeToken() {
    return [] {
        const UserInteractionAllowance allowance;
        static_cast<void>(KeychainAgentTokenStore(true).read());
    };
}

AgentViewModelEnvironment AgentViewModelFactory::environment() {
    AgentViewModelEnvironment environment = AgentViewModelEnvironment::system();
    environment.chooseFolder = &AgentViewModelFactory::chooseWorkspaceFolder;
    return environment;
}

std::unique_ptr<AgentViewModel> AgentViewModelFactory::create(
    AgentViewModelEnvironment environment) {
    // The window's first refresh, as soon as it is shown, reads the registration: nothing
    // here waits for the service manager.
    AgentConfigurationStore configurationStore(AgentConfigurationStore::defaultURL(),
                                               std::make_shared<KeychainAgentTokenStore>(false));
    // The agent's sandbox lets it reach the bound folders of the file as it is at each start.
    auto serviceController = std::make_unique<AgentServiceController>(
        installPrefix(), QDBusConnection::sessionBus(),
        AgentServiceController::defaultUserUnitDirectory(),
        AgentServiceController::defaultCallTimeoutMs,
        [configurationStore] { return configurationStore.loadFile().workspaceRoots; });
    auto guiLease = std::make_unique<AgentGUILease>(AgentGUILease::socketPath());
    return std::make_unique<AgentViewModel>(
        std::move(serviceController), std::move(guiLease), std::make_unique<AgentHealthReader>(),
        std::make_unique<AgentLogReader>(), std::move(configurationStore), authorizeToken(),
        std::move(environment));
}

}  // namespace quorvane
