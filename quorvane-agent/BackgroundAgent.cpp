#include "BackgroundAgent.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>

#include "PanelTokenSource.h"
#include "config/AgentConfiguration.h"
#include "config/AgentConfigurationError.h"
#include "config/AgentConfigurationFile.h"
#include "config/AgentConfigurationStore.h"
#include "config/AgentContract.h"
#include "monitor/AgentHealthReader.h"
#include "monitor/AgentLogReader.h"
#include "system/PrivateFiles.h"
#include "system/QuorvaneError.h"

namespace quorvane {

namespace {

// Overwrites the characters in place before the string's memory is freed. A shared copy is
// left alone rather than detached, which would only wipe a fresh duplicate.
void wipe(QString& secret) {
    if (secret.isDetached()) {
        std::fill(secret.data(), secret.data() + secret.size(), QChar());
    }
    secret.clear();
    secret.squeeze();
}

}  // namespace

BackgroundAgent::BackgroundAgent()
    : health_(AgentHealthReader::defaultPath()),
      log_(AgentLogReader::defaultPath()),
      server_(AgentContract::guiSocketPath()) {
    connect(&termination_, &TerminationSignals::received, this, &BackgroundAgent::stop);
    connect(&server_, &GuiSocketServer::panelConnected, this, [this] {
        log_.write(
            QStringLiteral("Панель подключилась (подключений: %1)").arg(server_.connectionCount()));
    });
    connect(&server_, &GuiSocketServer::panelDisconnected, this, [this] {
        log_.write(
            QStringLiteral("Панель отключилась (подключений: %1)").arg(server_.connectionCount()));
    });
}

void BackgroundAgent::start() {
    log_.write(QStringLiteral("Агент запущен, версия ") + QCoreApplication::applicationVersion());
    report({AgentContract::statusStarting, std::nullopt});
    try {
        listenForPanels();
        configuration_ = loadConfiguration();
    } catch (const std::exception& error) {
        report({AgentContract::statusError, QString::fromUtf8(error.what())});
        return;
    }
    checkReadiness();
}

void BackgroundAgent::listenForPanels() {
    try {
        // The runtime folder is not the state folder the health file has just created.
        PrivateFiles::createPrivateDirectory(
            PrivateFiles::directoryOf(AgentContract::guiSocketPath()));
        server_.listen();
    } catch (const std::exception& error) {
        throw QuorvaneError(QStringLiteral("Не удалось открыть сокет панели: ") +
                            QString::fromUtf8(error.what()));
    }
}

void BackgroundAgent::checkReadiness() {
    bool tokenPresent = false;
    try {
        tokenPresent = hasToken();
    } catch (const PanelTokenSource::StoreUnavailable& error) {
        retryTokenLater(error.message());
        return;
    } catch (const std::exception& error) {
        report({AgentContract::statusError, QString::fromUtf8(error.what())});
        return;
    }
    try {
        report(readiness(tokenPresent));
    } catch (const std::exception& error) {
        report({AgentContract::statusError, QString::fromUtf8(error.what())});
    }
}

// The first failure is reported; the retries after it stay out of the log.
void BackgroundAgent::retryTokenLater(const QString& reason) {
    if (tokenRetry_ == firstTokenRetry) {
        report({AgentContract::statusError,
                reason + QStringLiteral(". Агент повторит попытку сам, когда хранилище будет "
                                        "разблокировано.")});
    }
    QTimer::singleShot(tokenRetry_, this, &BackgroundAgent::checkReadiness);
    tokenRetry_ = std::min(tokenRetry_ * 2, longestTokenRetry);
}

BackgroundAgent::Health BackgroundAgent::readiness(bool tokenPresent) {
    const AgentConfiguration& configuration = configuration_;
    if (!tokenPresent) {
        return {AgentContract::statusNeedsConfiguration,
                QStringLiteral("Добавьте токен устройства")};
    }
    if (configuration.workspaceRoots.isEmpty()) {
        return {AgentContract::statusNeedsConfiguration,
                QStringLiteral("Добавьте папку Workspace")};
    }
    checkFolders(configuration);
    return {AgentContract::statusRunning, std::nullopt};
}

AgentConfiguration BackgroundAgent::loadConfiguration() {
    // Only the file is read here; the secret store is the panel's business.
    try {
        const AgentConfiguration configuration =
            AgentConfigurationFile(AgentContract::configurationFilePath()).loadFile();
        log_.write(QStringLiteral("Конфигурация прочитана, папок: %1")
                       .arg(configuration.workspaceRoots.size()));
        return configuration;
    } catch (const std::exception& error) {
        throw QuorvaneError(QStringLiteral("Не удалось прочитать конфигурацию: ") +
                            QString::fromUtf8(error.what()));
    }
}

// The panel's secret store first; a token line left in an old file is still understood. This
// agent never talks to the network, so the token is only looked at and then overwritten.
bool BackgroundAgent::hasToken() {
    std::optional<QString> token = PanelTokenSource().read();
    const std::optional<QString>& found = token ? token : configuration_.token;
    const bool present = found && !found->isEmpty();
    if (token) {
        wipe(*token);
    }
    log_.write(present ? QStringLiteral("Токен устройства получен")
                       : QStringLiteral("Токен устройства не задан"));
    return present;
}

void BackgroundAgent::checkFolders(const AgentConfiguration& configuration) {
    for (const WorkspaceRootConfiguration& root : configuration.workspaceRoots) {
        try {
            AgentConfigurationStore::probeWorkspaceAccess(root.path, root.writeEnabled);
        } catch (const AgentConfigurationError&) {
            throw QuorvaneError(QStringLiteral("Нет доступа к папке Workspace: ") + root.path);
        }
        log_.write(QStringLiteral("Папка доступна (%1): %2")
                       .arg(root.writeEnabled ? QStringLiteral("чтение и запись")
                                              : QStringLiteral("только чтение"),
                            root.path));
    }
}

void BackgroundAgent::report(const Health& health) {
    try {
        health_.write(health.status, health.message);
    } catch (const std::exception& error) {
        log_.write(QStringLiteral("Не удалось записать состояние: ") +
                   QString::fromUtf8(error.what()));
    }
    log_.write(QStringLiteral("Состояние: ") + health.status +
               (health.message ? QStringLiteral(" — ") + *health.message : QString()));
}

void BackgroundAgent::stop() {
    log_.write(QStringLiteral("Получен сигнал завершения"));
    report({AgentContract::statusStopped, std::nullopt});
    server_.close();
    QCoreApplication::exit(0);
}

}  // namespace quorvane
