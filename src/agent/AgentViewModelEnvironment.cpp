#include "agent/AgentViewModelEnvironment.h"

#include <pwd.h>
#include <unistd.h>

namespace quorvane {

AgentViewModelEnvironment AgentViewModelEnvironment::system() {
    AgentViewModelEnvironment environment;
    environment.now = [] { return QDateTime::currentDateTime(); };
    environment.shortVersion = QStringLiteral(QUORVANE_VERSION);
    environment.buildNumber = QStringLiteral(QUORVANE_BUILD_NUMBER);
    if (const passwd* user = getpwuid(getuid())) {
        const QString gecos = QString::fromLocal8Bit(user->pw_gecos ? user->pw_gecos : "");
        environment.fullUserName = gecos.section(u',', 0, 0);
        environment.userName = QString::fromLocal8Bit(user->pw_name);
    }
    return environment;
}

}  // namespace quorvane
