#pragma once

#include <QAbstractListModel>
#include <QDateTime>
#include <QLocale>
#include <QStringList>
#include <functional>
#include <optional>

#include "monitor/AgentLogReading.h"

namespace quorvane {

// The lines of the log panel, oldest first: the panel's own events and, while the panel is
// open, the agent's recent lines in their place. A view is told only of rows added or removed.
class AgentLogModel : public QAbstractListModel {
    Q_OBJECT

public:
    static constexpr int ownLimit = 100;
    static constexpr int agentLimit = 300;

    AgentLogModel(const AgentLogReading& reader, std::function<QDateTime()> now,
                  QObject* parent = nullptr);

    const QStringList& lines() const { return lines_; }

    // A line of the panel's own: "HH:mm:ss", two spaces, the message; the newest 100 stay.
    void append(const QString& message);
    // Shows the agent's recent lines instead of everything shown so far. A log that has not
    // changed since it was shown is not read again; an empty one leaves the lines as they are.
    void followAgentLog();
    // Replaces the lines, keeping the rows the new lines share with the old ones' end.
    void show(const QStringList& lines);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

Q_SIGNALS:
    void linesChanged();

private:
    void removeFirst(int count);
    void appendRows(const QStringList& added);

    const AgentLogReading& reader_;
    std::function<QDateTime()> now_;
    QLocale timestampLocale_;
    QStringList lines_;
    // The log as it was when its lines were shown and nothing of the panel's was added since.
    std::optional<AgentLogStamp> shownStamp_;
};

}  // namespace quorvane
