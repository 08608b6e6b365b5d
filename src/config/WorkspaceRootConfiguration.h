#pragma once

#include <QString>

namespace quorvane {

// One folder binding: a folder code from the cabinet and the local folder it names.
struct WorkspaceRootConfiguration {
    QString id;    // lower-case UUID text
    QString path;  // standardised absolute path
    bool writeEnabled = false;

    friend bool operator==(const WorkspaceRootConfiguration&,
                           const WorkspaceRootConfiguration&) = default;
};

}  // namespace quorvane
