#include "agent/AgentLogModel.h"

namespace quorvane {

using namespace Qt::StringLiterals;

namespace {

// How many leading lines of `old` to drop so that what is left begins `fresh`; old.size() when
// the two share nothing.
qsizetype overlapStart(const QStringList& old, const QStringList& fresh) {
    for (qsizetype start = std::max<qsizetype>(0, old.size() - fresh.size()); start < old.size();
         ++start) {
        if (std::equal(old.begin() + start, old.end(), fresh.begin())) {
            return start;
        }
    }
    return old.size();
}

}  // namespace

AgentLogModel::AgentLogModel(const AgentLogReading& reader, std::function<QDateTime()> now,
                             QObject* parent)
    : QAbstractListModel(parent),
      reader_(reader),
      now_(std::move(now)),
      timestampLocale_(QLocale::Russian, QLocale::Russia) {}

void AgentLogModel::append(const QString& message) {
    shownStamp_.reset();
    appendRows({timestampLocale_.toString(now_().time(), u"HH:mm:ss") + u"  "_s + message});
    if (lines_.size() > ownLimit) {
        removeFirst(int(lines_.size()) - ownLimit);
    }
    Q_EMIT linesChanged();
}

void AgentLogModel::followAgentLog() {
    const std::optional<AgentLogStamp> stamp = reader_.stamp();
    if (stamp && stamp == shownStamp_) {
        return;
    }
    const QStringList agentLines = reader_.readRecentLines(agentLimit);
    if (agentLines.isEmpty()) {
        return;
    }
    show(agentLines);
    shownStamp_ = stamp;
}

void AgentLogModel::show(const QStringList& lines) {
    const qsizetype start = overlapStart(lines_, lines);
    removeFirst(int(start));
    appendRows(lines.sliced(lines_.size()));
    Q_EMIT linesChanged();
}

void AgentLogModel::removeFirst(int count) {
    if (count <= 0) {
        return;
    }
    beginRemoveRows({}, 0, count - 1);
    lines_.remove(0, count);
    endRemoveRows();
}

void AgentLogModel::appendRows(const QStringList& added) {
    if (added.isEmpty()) {
        return;
    }
    beginInsertRows({}, int(lines_.size()), int(lines_.size() + added.size()) - 1);
    lines_.append(added);
    endInsertRows();
}

int AgentLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(lines_.size());
}

QVariant AgentLogModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid) || role != Qt::DisplayRole) {
        return {};
    }
    return lines_.at(index.row());
}

QHash<int, QByteArray> AgentLogModel::roleNames() const {
    return {{Qt::DisplayRole, "line"}};
}

}  // namespace quorvane
