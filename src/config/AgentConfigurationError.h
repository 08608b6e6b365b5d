#pragma once

#include "config/QuorvaneError.h"

namespace quorvane {

// The configuration side's failures, each with its user message.
class AgentConfigurationError : public QuorvaneError {
public:
    enum class Kind {
        malformedConfiguration,
        invalidToken,
        invalidWorkspaceID,
        invalidWorkspacePath,
        rootTooBroad,
        workspaceAccessDenied,
        unsafeConfigurationFile,
        configurationTooLarge,
    };

    static AgentConfigurationError malformedConfiguration(const QString& detail);
    static AgentConfigurationError invalidToken();
    static AgentConfigurationError invalidWorkspaceID();
    static AgentConfigurationError invalidWorkspacePath();
    static AgentConfigurationError rootTooBroad();
    static AgentConfigurationError workspaceAccessDenied();
    static AgentConfigurationError unsafeConfigurationFile();
    static AgentConfigurationError configurationTooLarge();

    Kind kind() const { return kind_; }
    // Only malformedConfiguration carries a detail; empty otherwise.
    QString detail() const { return detail_; }

    friend bool operator==(const AgentConfigurationError& a, const AgentConfigurationError& b) {
        return a.kind_ == b.kind_ && a.detail_ == b.detail_;
    }

private:
    AgentConfigurationError(Kind kind, const QString& detail);

    Kind kind_;
    QString detail_;
};

}  // namespace quorvane
