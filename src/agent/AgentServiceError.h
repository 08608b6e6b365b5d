#pragma once

#include "system/QuorvaneError.h"

namespace quorvane {

// A failure to read or change the agent's registration with the service manager.
class AgentServiceError : public QuorvaneError {
public:
    enum class Kind {
        refused,  // the manager refused: access denied, unit masked, authorisation needed
        locationUpdateFailed,  // the user unit could not be written from the bundled template
        other,                 // no bus, no manager, a time-out, any other error
    };

    AgentServiceError(Kind kind, const QString& description, int code = 0);

    Kind kind() const { return kind_; }
    int code() const { return code_; }
    QString description() const { return message(); }

private:
    Kind kind_;
    int code_;
};

}  // namespace quorvane
