#pragma once

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QString>
#include <cerrno>
#include <functional>
#include <system_error>

#include "config/AgentConfiguration.h"
#include "config/AgentConfigurationError.h"

namespace quorvane::testing {

inline QString validToken(QChar filler = QLatin1Char('A')) {
    return QStringLiteral("qv_agent_") + QString(43, filler);
}

template <typename Operation>
std::optional<AgentConfigurationError> configurationErrorOf(Operation operation) {
    try {
        operation();
    } catch (const AgentConfigurationError& error) {
        return error;
    }
    return std::nullopt;
}

// Root ignores permission bits, so "may list but not write" exists only for an unprivileged
// user: the action runs in a forked child that, under root, first becomes "nobody". The exit
// status is 0, 10 + the configuration error's kind, 100 + errno, or 250 for anything else.
inline int configurationErrorExit(AgentConfigurationError::Kind kind) {
    return 10 + int(kind);
}

inline int runUnprivileged(const std::function<void()>& action) {
    const pid_t child = fork();
    if (child == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (geteuid() == 0 && (nobody == nullptr || setgroups(0, nullptr) != 0 ||
                               setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)) {
            _exit(251);
        }
        try {
            action();
            _exit(0);
        } catch (const AgentConfigurationError& error) {
            _exit(configurationErrorExit(error.kind()));
        } catch (const std::system_error& error) {
            _exit(100 + error.code().value());
        } catch (...) {
            _exit(250);
        }
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 250;
}

// What config-save-loop writes on each turn: tens of KiB, so a kill often lands in the middle
// of writing one; even and odd turns differ.
inline AgentConfiguration saveLoopConfiguration(int turn) {
    AgentConfiguration configuration;
    for (int i = 0; i < 400 - turn % 2 * 100; ++i) {
        configuration.workspaceRoots.append(
            {QStringLiteral("%1-0000-4000-8000-000000000000").arg(i, 8, 10, QLatin1Char('0')),
             QStringLiteral("/srv/%1/папка номер %2").arg(turn % 2).arg(i), i % 2 == 0});
    }
    return configuration;
}

}  // namespace quorvane::testing
