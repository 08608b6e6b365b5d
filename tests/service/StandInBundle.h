#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "config/AgentContract.h"

// An install prefix holding the real unit template and, in place of the agent, a script
// that appends its PID to agentPath() + ".started" and then sleeps as that same process.
// The default name has a space and the specifier "%h" so that the unit's ExecStart quoting is
// exercised.
class StandInBundle {
public:
    explicit StandInBundle(
        const QString& nameTemplate = QStringLiteral("quorvane prefix %h-XXXXXX"))
        : directory_(QDir::tempPath() + QLatin1Char('/') + nameTemplate) {
        if (!directory_.isValid()) {
            return;
        }
        valid_ =
            install(QString(quorvane::AgentContract::bundledUnitTemplatePath), templateText(),
                    QFile::ReadOwner | QFile::WriteOwner) &&
            install(QString(quorvane::AgentContract::bundledAgentPath),
                    QByteArrayLiteral("#!/bin/sh\necho $$ >> \"$0.started\"\nexec sleep 600\n"),
                    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    bool isValid() const { return valid_; }
    QString prefix() const { return directory_.path(); }
    QString agentPath() const { return file(quorvane::AgentContract::bundledAgentPath); }
    QString templatePath() const { return file(quorvane::AgentContract::bundledUnitTemplatePath); }
    // One line per start of the stand-in agent: its PID.
    QStringList startedPids() const {
        QFile started(agentPath() + QStringLiteral(".started"));
        if (!started.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromLatin1(started.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // The unit template as built into QUORVANE_PREFIX.
    static QByteArray templateText() {
        QFile unit(qEnvironmentVariable("QUORVANE_PREFIX") + QLatin1Char('/') +
                   quorvane::AgentContract::bundledUnitTemplatePath);
        return unit.open(QIODevice::ReadOnly) ? unit.readAll() : QByteArray();
    }

private:
    QString file(QLatin1StringView relative) const {
        return directory_.filePath(QString(relative));
    }

    bool install(const QString& relative, const QByteArray& content,
                 QFile::Permissions permissions) {
        const QString path = directory_.filePath(relative);
        QFile target(path);
        return !content.isEmpty() && QDir().mkpath(QFileInfo(path).path()) &&
               target.open(QIODevice::WriteOnly) && target.write(content) == content.size() &&
               target.setPermissions(permissions);
    }

    QTemporaryDir directory_;
    bool valid_ = false;
};
