#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

#include "config/WorkspaceRootConfiguration.h"

namespace quorvane {

// The sandbox of the agent's unit: the home hidden but for the agent's own folders, the session
// bus and the bound folders (writable ones writable, read-only ones read-only even against a
// faulty agent), a read-only system, private /tmp, devices and IPC, and no way to gain
// privileges, change the kernel or reach other than local and Internet sockets.
class AgentUnitConfinement {
public:
    struct Folders {
        QString configuration;
        QString state;
        QString runtime;
        // Holds the agent and the panel executable it runs for the token.
        QString installPrefix;
        QList<WorkspaceRootConfiguration> workspaceRoots;
    };

    // The agent's folders as this process finds them, the state and runtime folders made when
    // missing (a folder missing at the start could not be given to the agent: its writes would
    // stay inside the sandbox), and the bound folders workspaceRoots returns, if any.
    static Folders currentFolders(
        const QString& installPrefix,
        const std::function<QList<WorkspaceRootConfiguration>()>& workspaceRoots);

    // The [Service] lines of the sandbox. A folder systemd cannot be given (a control
    // character in its path) is left out; missing folders are skipped by systemd.
    static QByteArray serviceLines(const Folders& folders);

    // The path as one word of BindPaths=/BindReadOnlyPaths=, a missing folder skipped: quoted,
    // with quotes and backslashes escaped and '%' doubled, so spaces, colons and specifiers stay
    // part of the path. Nothing for a path with a control character, which no escape carries.
    static std::optional<QByteArray> bindWord(const QString& path);

    // An exit status with which systemd reports that it could not set up the sandbox (user or
    // mount namespace, capabilities, seccomp, address families), not a failure of the agent.
    static bool isSandboxFailure(int execMainStatus);
};

}  // namespace quorvane
