#include "PanelTokenSource.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>

#include "AgentProcessLogging.h"
#include "config/AgentContract.h"
#include "system/QuorvaneError.h"

namespace quorvane {

PanelTokenSource::PanelTokenSource(QString panelPath) : panelPath_(std::move(panelPath)) {}

QString PanelTokenSource::defaultPanelPath() {
    const QString overridden = qEnvironmentVariable("QUORVANE_PANEL");
    if (!overridden.isEmpty()) {
        return overridden;
    }
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../../bin/quorvane"));
}

std::optional<QString> PanelTokenSource::read() const {
    QProcess panel;
    panel.setProgram(panelPath_);
    panel.setArguments({AgentContract::readAgentTokenArgument});
    panel.setStandardInputFile(QProcess::nullDevice());
    panel.setStandardErrorFile(QProcess::nullDevice());
    const QDeadlineTimer deadline(timeLimit);
    panel.start(QIODevice::ReadOnly);
    if (!panel.waitForStarted(int(deadline.remainingTime()))) {
        throw QuorvaneError(QStringLiteral("Не удалось запустить панель Quorvane: ") + panelPath_);
    }
    if (!panel.waitForFinished(int(deadline.remainingTime()))) {
        panel.kill();
        panel.waitForFinished(1000);
        throw StoreUnavailable(QStringLiteral("Панель Quorvane не выдала токен устройства за %1 с")
                                   .arg(timeLimit.count() / 1000));
    }
    if (panel.exitStatus() != QProcess::NormalExit || panel.exitCode() != 0) {
        qCDebug(lcAgentProcess, "the token mode ended with status %d, code %d",
                int(panel.exitStatus()), panel.exitCode());
        throw StoreUnavailable(
            QStringLiteral("Не удалось прочитать токен устройства из хранилища паролей"));
    }
    const QByteArray token = panel.readAllStandardOutput();
    if (token.isEmpty()) {
        return std::nullopt;
    }
    return QString::fromUtf8(token);
}

}  // namespace quorvane
