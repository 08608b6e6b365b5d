#pragma once

#include "system/QuorvaneError.h"

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
        // Another program kept changing the file while it was being saved.
        configurationChangedDuringSave,
    };

    // What stands at the configuration path instead of a regular file; each has its own text.
    enum class UnsafeFile {
        symbolicLink,
        danglingLink,
        folder,
        fifo,
        socket,
        device,
        otherFile,
    };

    static AgentConfigurationError malformedConfiguration(const QString& detail);
    static AgentConfigurationError invalidToken();
    static AgentConfigurationError invalidWorkspaceID();
    static AgentConfigurationError invalidWorkspacePath();
    static AgentConfigurationError rootTooBroad();
    static AgentConfigurationError workspaceAccessDenied();
    static AgentConfigurationError unsafeConfigurationFile(
        UnsafeFile found = UnsafeFile::symbolicLink);
    static AgentConfigurationError configurationTooLarge();
    static AgentConfigurationError configurationChangedDuringSave();

    Kind kind() const { return kind_; }
    // Only malformedConfiguration carries a detail; empty otherwise.
    QString detail() const { return detail_; }
    // Only meaningful for unsafeConfigurationFile.
    UnsafeFile unsafeFile() const { return unsafeFile_; }

    friend bool operator==(const AgentConfigurationError& a, const AgentConfigurationError& b) {
        return a.kind_ == b.kind_ && a.detail_ == b.detail_ && a.unsafeFile_ == b.unsafeFile_;
    }

private:
    AgentConfigurationError(Kind kind, const QString& detail,
                            UnsafeFile unsafeFile = UnsafeFile::symbolicLink);

    Kind kind_;
    QString detail_;
    UnsafeFile unsafeFile_;
};

}  // namespace quorvane
