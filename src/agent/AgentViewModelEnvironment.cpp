#include "agent/AgentViewModelEnvironment.h"

#include <pwd.h>
#include <unistd.h>

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <array>

namespace quorvane {

using namespace Qt::StringLiterals;

namespace {

struct AutostartSettings {
    QString desktop;  // as named in XDG_CURRENT_DESKTOP
    QString program;
    QStringList arguments;
};

const std::array<AutostartSettings, 2>& knownAutostartSettings() {
    static const std::array<AutostartSettings, 2> settings{{
        {u"KDE"_s, u"systemsettings"_s, {u"kcm_autostart"_s}},
        {u"GNOME"_s, u"gnome-control-center"_s, {u"applications"_s}},
    }};
    return settings;
}

// The running desktop's own settings first; on another desktop, whichever is installed.
const AutostartSettings* autostartSettings() {
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts);
    for (const AutostartSettings& settings : knownAutostartSettings()) {
        if (desktops.contains(settings.desktop, Qt::CaseInsensitive)) {
            return &settings;
        }
    }
    for (const AutostartSettings& settings : knownAutostartSettings()) {
        if (!QStandardPaths::findExecutable(settings.program).isEmpty()) {
            return &settings;
        }
    }
    return nullptr;
}

void openAutostartSettings() {
    if (const AutostartSettings* settings = autostartSettings()) {
        QProcess::startDetached(settings->program, settings->arguments);
    }
}

}  // namespace

AgentViewModelEnvironment AgentViewModelEnvironment::system() {
    AgentViewModelEnvironment environment;
    environment.now = [] { return QDateTime::currentDateTime(); };
    environment.openLoginItemsSettings = openAutostartSettings;
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
