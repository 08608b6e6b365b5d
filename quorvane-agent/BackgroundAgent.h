#pragma once

#include <QLatin1StringView>
#include <QObject>
#include <QString>
#include <chrono>
#include <optional>

#include "AgentLog.h"
#include "GuiSocketServer.h"
#include "HealthFile.h"
#include "config/AgentConfiguration.h"
#include "system/TerminationSignals.h"

namespace quorvane {

// The bundled agent: listens for panels, checks its configuration, the device token and the
// folders at start, reports the outcome in its health file and log, and stops on SIGTERM. While
// the secret store cannot give the token (a session often starts the agent before the keyring
// is unlocked) it asks again, less and less often, and carries on once it can.
// It serves no folder to anyone: it never talks to the network.
class BackgroundAgent : public QObject {
    Q_OBJECT

public:
    BackgroundAgent();

    static constexpr std::chrono::milliseconds firstTokenRetry{250};
    static constexpr std::chrono::milliseconds longestTokenRetry{2'000};

    // Runs the start-up checks; the outcome is in the health file when this returns.
    void start();

private:
    struct Health {
        QLatin1StringView status;
        std::optional<QString> message;
    };

    void listenForPanels();
    void checkReadiness();
    Health readiness(bool tokenPresent);
    AgentConfiguration loadConfiguration();
    bool hasToken();
    void retryTokenLater(const QString& reason);
    void checkFolders(const AgentConfiguration& configuration);
    void report(const Health& health);
    void stop();

    HealthFile health_;
    AgentLog log_;
    GuiSocketServer server_;
    static constexpr std::chrono::seconds stopDeadline{1};

    TerminationSignals termination_{nullptr, stopDeadline};
    AgentConfiguration configuration_;
    std::chrono::milliseconds tokenRetry_ = firstTokenRetry;
};

}  // namespace quorvane
