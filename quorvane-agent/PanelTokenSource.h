#pragma once

#include <QString>
#include <chrono>
#include <optional>

#include "system/QuorvaneError.h"

namespace quorvane {

// The device token, obtained from the panel's token-output mode ("quorvane --read-agent-token").
// The token lives only in the secret store; the agent never keeps it in a file or a log.
class PanelTokenSource {
public:
    static constexpr std::chrono::milliseconds timeLimit{10'000};

    // The panel ran but could not read the store now (locked, not yet started, not answering):
    // a later attempt may succeed without anyone changing anything.
    class StoreUnavailable : public QuorvaneError {
    public:
        using QuorvaneError::QuorvaneError;
    };

    explicit PanelTokenSource(QString panelPath = defaultPanelPath());

    // $QUORVANE_PANEL when set, otherwise bin/quorvane under the agent's own install prefix
    // (<prefix>/libexec/quorvane/quorvane-agent).
    static QString defaultPanelPath();

    // The token, or nothing when none is stored. Throws StoreUnavailable when the panel does not
    // finish within timeLimit or reports a failure, QuorvaneError when it cannot be run.
    std::optional<QString> read() const;

private:
    QString panelPath_;
};

}  // namespace quorvane
