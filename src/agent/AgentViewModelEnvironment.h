#pragma once

#include <QDateTime>
#include <QString>
#include <functional>
#include <optional>

namespace quorvane {

// What the view model takes from its surroundings, so tests can replace each piece.
struct AgentViewModelEnvironment {
    // Wall-clock time: log time stamps and the start-up time limit.
    std::function<QDateTime()> now;
    // Modal folder chooser: the chosen folder's path, or nothing when cancelled.
    std::function<std::optional<QString>()> chooseFolder;
    // Empty texts show as an em dash in versionText.
    QString shortVersion;
    QString buildNumber;
    // The user's full name (may be empty) and login name.
    QString fullUserName;
    QString userName;
    // Whether this panel owns the session bus's panel name. A panel that does not (a second
    // one, or one that lost the name) never stops a registration it did not make as a
    // leftover: it may be the agent of the panel that owns the name.
    std::function<bool()> ownsPanelName = [] { return true; };

    // The real clock, the passwd entry of the current user and the project version; no folder
    // chooser (the application supplies one).
    static AgentViewModelEnvironment system();
};

}  // namespace quorvane
