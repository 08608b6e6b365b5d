#pragma once

#include <QLatin1StringView>
#include <QObject>
#include <QString>
#include <optional>

#include "AgentLog.h"
#include "GuiSocketServer.h"
#include "HealthFile.h"
#include "system/TerminationSignals.h"

namespace quorvane {

struct AgentConfiguration;

// The bundled agent: listens for panels, checks its configuration, the device token and the
// folders once at start, reports the outcome in its health file and log, and stops on SIGTERM.
// It serves no folder to anyone: it never talks to the network.
class BackgroundAgent : public QObject {
    Q_OBJECT

public:
    BackgroundAgent();

    // Runs the start-up checks; the outcome is in the health file when this returns.
    void start();

private:
    struct Health {
        QLatin1StringView status;
        std::optional<QString> message;
    };

    void listenForPanels();
    Health checkReadiness();
    AgentConfiguration loadConfiguration();
    bool hasToken(const AgentConfiguration& configuration);
    void checkFolders(const AgentConfiguration& configuration);
    void report(const Health& health);
    void stop();

    HealthFile health_;
    AgentLog log_;
    GuiSocketServer server_;
    static constexpr std::chrono::seconds stopDeadline{1};

    TerminationSignals termination_{nullptr, stopDeadline};
};

}  // namespace quorvane
