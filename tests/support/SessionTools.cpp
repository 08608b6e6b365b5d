#include "tests/support/SessionTools.h"

#include <QProcess>

#include "config/AgentContract.h"

namespace quorvane::testing {

namespace {

// Generous, so that a loaded machine does not cut a working command short.
constexpr int commandLimitMs = 30000;

}  // namespace

QString agentUnit() {
    return QString(AgentContract::unitName);
}

QString programOutput(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(commandLimitMs);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString systemctl(const QStringList& arguments) {
    return programOutput(QStringLiteral("systemctl"),
                         QStringList{QStringLiteral("--user")} + arguments);
}

QString unitProperty(const QString& name) {
    return systemctl({QStringLiteral("show"), QStringLiteral("--value"), QStringLiteral("-p"), name,
                      agentUnit()});
}

qint64 agentProcessID() {
    return unitProperty(QStringLiteral("MainPID")).toLongLong();
}

}  // namespace quorvane::testing
