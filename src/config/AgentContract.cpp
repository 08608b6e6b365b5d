#include "config/AgentContract.h"

#include <QDir>

namespace quorvane::AgentContract {

namespace {

const QString folderName = QStringLiteral("/quorvane");

// Relative values are ignored, as XDG asks of every program that reads these variables.
QString absoluteFromEnvironment(const char* variable) {
    const QString value = qEnvironmentVariable(variable);
    return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : QString();
}

QString baseDirectory(const char* variable, const QString& homeDefault) {
    const QString value = absoluteFromEnvironment(variable);
    return value.isEmpty() ? QDir::homePath() + homeDefault : value;
}

}  // namespace

QString configurationDirectory() {
    return baseDirectory("XDG_CONFIG_HOME", QStringLiteral("/.config")) + folderName;
}

QString stateDirectory() {
    return baseDirectory("XDG_STATE_HOME", QStringLiteral("/.local/state")) + folderName;
}

QString runtimeDirectory() {
    const QString runtime = absoluteFromEnvironment("XDG_RUNTIME_DIR");
    return runtime.isEmpty() ? stateDirectory() : runtime + folderName;
}

QString configurationFilePath() {
    return configurationDirectory() + QStringLiteral("/quorvane-agent.conf");
}

QString healthFilePath() {
    return stateDirectory() + QStringLiteral("/agent-health.json");
}

QString logFilePath() {
    return stateDirectory() + QStringLiteral("/logs/agent.log");
}

QString guiSocketPath() {
    return runtimeDirectory() + QStringLiteral("/agent-gui.sock");
}

}  // namespace quorvane::AgentContract
