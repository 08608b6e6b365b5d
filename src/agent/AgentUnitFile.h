#pragma once

#include <QByteArray>
#include <QString>

namespace quorvane {

// The agent's user unit, made from the unit template of an install prefix so that it names
// the agent of that prefix.
class AgentUnitFile {
public:
    // installPrefix: where libexec/quorvane/ and lib/systemd/user/ lie.
    // userUnitDirectory: the folder of the user's own units, where the unit is written.
    AgentUnitFile(QString installPrefix, QString userUnitDirectory);

    // True when the prefix holds an executable agent and the unit template.
    static bool isBundled(const QString& installPrefix);

    QString path() const;

    // Replaces the user unit in one step, unless the user's mask stands in its place. Fails
    // with AgentServiceError (locationUpdateFailed) naming the unit file and the reason.
    void write(const QByteArray& serviceLines) const;

    // The template with its one ExecStart= line naming agentPath, followed by serviceLines
    // (each ending with a line break).
    // Fails with std::system_error (EINVAL) for a template without exactly one such line and
    // for a path systemd would misread.
    static QByteArray render(const QByteArray& unitTemplate, const QString& agentPath,
                             const QByteArray& serviceLines = {});

private:
    QString installPrefix_;
    QString userUnitDirectory_;
};

}  // namespace quorvane
