#pragma once

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <system_error>

#include "config/AgentConfigurationError.h"

namespace quorvane::testing {

// Root ignores permission bits, so a folder that "the user may list but not write" only
// exists for an unprivileged user. These helpers run an action in a forked child that, when
// the test runs as root, first becomes "nobody"; the exit status reports what the action did.
namespace ChildOutcome {
constexpr int succeeded = 0;
constexpr int configurationErrorBase = 10;  // + AgentConfigurationError::Kind
constexpr int posixErrorBase = 100;         // + errno (below 150)
constexpr int otherFailure = 250;
constexpr int cannotDropPrivileges = 251;

inline int of(AgentConfigurationError::Kind kind) {
    return configurationErrorBase + int(kind);
}
inline int ofErrno(int code) {
    return posixErrorBase + code;
}
}  // namespace ChildOutcome

inline bool dropToNobody() {
    const passwd* nobody = getpwnam("nobody");
    return nobody != nullptr && setgroups(0, nullptr) == 0 && setgid(nobody->pw_gid) == 0 &&
           setuid(nobody->pw_uid) == 0 && geteuid() != 0;
}

inline int outcomeOf(const std::function<void()>& action) {
    try {
        action();
        return ChildOutcome::succeeded;
    } catch (const AgentConfigurationError& error) {
        return ChildOutcome::of(error.kind());
    } catch (const std::system_error& error) {
        return ChildOutcome::ofErrno(error.code().value());
    } catch (...) {
        return ChildOutcome::otherFailure;
    }
}

inline int runUnprivileged(const std::function<void()>& action) {
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && !dropToNobody()) {
            _exit(ChildOutcome::cannotDropPrivileges);
        }
        _exit(outcomeOf(action));
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : ChildOutcome::otherFailure;
}

}  // namespace quorvane::testing
