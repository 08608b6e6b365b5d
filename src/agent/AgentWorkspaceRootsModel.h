#pragma once

#include <QAbstractListModel>
#include <QList>

#include "config/WorkspaceRootConfiguration.h"

namespace quorvane {

// The saved folder bindings as rows with the roles "rootID", "path" and "writeEnabled", for a
// list view that creates only the rows it shows.
class AgentWorkspaceRootsModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role { rootIDRole = Qt::UserRole + 1, pathRole, writeEnabledRole };

    using QAbstractListModel::QAbstractListModel;

    const QList<WorkspaceRootConfiguration>& roots() const { return roots_; }
    // The view is reset only when the bindings differ from those shown.
    void setRoots(QList<WorkspaceRootConfiguration> roots);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    QList<WorkspaceRootConfiguration> roots_;
};

}  // namespace quorvane
