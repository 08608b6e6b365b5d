#include "agent/AgentUnitConfinement.h"

#include <QFile>
#include <exception>

#include "agent/AgentLogging.h"
#include "config/AgentContract.h"
#include "system/PrivateFiles.h"

namespace quorvane {

namespace {

// What systemd enforces without a choice of the agent's folders. PrivateUsers= lets an
// unprivileged user's manager set up the mount namespace at all; ProtectKernelTunables= and
// ProtectKernelLogs= are left out, as such a manager fails the start with them (226/NAMESPACE).
constexpr const char* fixedLines[] = {
    "ProtectHome=tmpfs",
    "ProtectSystem=strict",
    "PrivateUsers=yes",
    "PrivateTmp=yes",
    "PrivateDevices=yes",
    "PrivateIPC=yes",
    "NoNewPrivileges=yes",
    "CapabilityBoundingSet=",
    "ProtectKernelModules=yes",
    "ProtectControlGroups=yes",
    "ProtectClock=yes",
    "ProtectHostname=yes",
    "ProtectProc=invisible",
    "ProcSubset=pid",
    "RestrictNamespaces=yes",
    "RestrictRealtime=yes",
    "RestrictSUIDSGID=yes",
    "LockPersonality=yes",
    "MemoryDenyWriteExecute=yes",
    "KeyringMode=private",
    "SystemCallArchitectures=native",
    "SystemCallFilter=@system-service",
    "SystemCallFilter=~@privileged @resources",
    "SystemCallErrorNumber=EPERM",
    "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6",
    "UMask=0077",
    "BindReadOnlyPaths=-%t/bus",
};

void appendBinding(QByteArray& lines, const char* key, const QString& path) {
    if (const std::optional<QByteArray> word = AgentUnitConfinement::bindWord(path)) {
        lines += key + *word + '\n';
    } else {
        qCWarning(agentLog) << "a folder cannot be given to the agent's sandbox:" << path;
    }
}

}  // namespace

AgentUnitConfinement::Folders AgentUnitConfinement::currentFolders(
    const QString& installPrefix,
    const std::function<QList<WorkspaceRootConfiguration>()>& workspaceRoots) {
    Folders folders{AgentContract::configurationDirectory(),
                    AgentContract::stateDirectory(),
                    AgentContract::runtimeDirectory(),
                    installPrefix,
                    {}};
    for (const QString& folder : {folders.state, folders.runtime}) {
        try {
            PrivateFiles::createMissingDirectories(folder);
        } catch (const std::exception& error) {
            qCWarning(agentLog) << "the agent's folder" << folder << "is missing:" << error.what();
        }
    }
    try {
        if (workspaceRoots) {
            folders.workspaceRoots = workspaceRoots();
        }
    } catch (const std::exception& error) {
        qCWarning(agentLog) << "the agent's sandbox gets no bound folders:" << error.what();
    }
    return folders;
}

QByteArray AgentUnitConfinement::serviceLines(const Folders& folders) {
    QByteArray lines;
    for (const char* line : fixedLines) {
        lines += QByteArray(line) + '\n';
    }
    appendBinding(lines, "BindReadOnlyPaths=", folders.installPrefix);
    appendBinding(lines, "BindReadOnlyPaths=", folders.configuration);
    appendBinding(lines, "BindPaths=", folders.state);
    appendBinding(lines, "BindPaths=", folders.runtime);
    for (const WorkspaceRootConfiguration& root : folders.workspaceRoots) {
        appendBinding(lines, root.writeEnabled ? "BindPaths=" : "BindReadOnlyPaths=", root.path);
    }
    return lines;
}

std::optional<QByteArray> AgentUnitConfinement::bindWord(const QString& path) {
    QByteArray word = "\"-";
    for (const char byte : QFile::encodeName(path)) {
        const auto code = static_cast<unsigned char>(byte);
        if (code < 0x20 || code == 0x7f) {
            return std::nullopt;
        }
        if (byte == '"' || byte == '\\') {
            word += '\\';
        } else if (byte == '%') {
            word += '%';
        }
        word += byte;
    }
    return word + '"';
}

bool AgentUnitConfinement::isSandboxFailure(int execMainStatus) {
    // USER, CAPABILITIES, NAMESPACE, NO_NEW_PRIVILEGES, SECCOMP, PERSONALITY, ADDRESS_FAMILIES
    // in systemd's exit statuses.
    for (const int status : {217, 218, 226, 227, 228, 230, 232}) {
        if (execMainStatus == status) {
            return true;
        }
    }
    return false;
}

}  // namespace quorvane
