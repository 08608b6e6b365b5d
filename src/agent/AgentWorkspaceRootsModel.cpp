#include "agent/AgentWorkspaceRootsModel.h"

namespace quorvane {

void AgentWorkspaceRootsModel::setRoots(QList<WorkspaceRootConfiguration> roots) {
    if (roots == roots_) {
        return;
    }
    beginResetModel();
    roots_ = std::move(roots);
    endResetModel();
}

int AgentWorkspaceRootsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(roots_.size());
}

QVariant AgentWorkspaceRootsModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid)) {
        return {};
    }
    const WorkspaceRootConfiguration& root = roots_.at(index.row());
    switch (role) {
        case rootIDRole:
            return root.id;
        case pathRole:
            return root.path;
        case writeEnabledRole:
            return root.writeEnabled;
        default:
            return {};
    }
}

QHash<int, QByteArray> AgentWorkspaceRootsModel::roleNames() const {
    return {{rootIDRole, "rootID"}, {pathRole, "path"}, {writeEnabledRole, "writeEnabled"}};
}

}  // namespace quorvane
