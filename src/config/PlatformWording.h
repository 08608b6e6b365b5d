#pragma once

#include <QString>
#include <cstdint>

namespace quorvane {

// Every user-visible sentence that names the operating system, in both wordings: the macOS
// application's and this Linux desktop's. current() is the one the build runs with; the other
// stays here so both can be compared and neither drifts.
class PlatformWording {
public:
    enum class Platform { macOS, linuxDesktop };

    explicit constexpr PlatformWording(Platform platform) : platform_(platform) {}

    static PlatformWording current();

    // Main window.
    QString headerSubtitle() const;
    QString headerBadge() const;
    QString workspaceUserPrefix() const;
    QString tokenAccessNeededLine() const;
    QString updateNote() const;

    // Token section and its messages.
    QString tokenStored() const;
    QString savedTokenProtection() const;
    QString tokenAccessHint() const;
    QString authorizingToken() const;
    QString tokenStorageError(std::int32_t status) const;

    // Workspace section and its messages.
    QString workspaceIntroduction() const;
    QString workspaceSaveAdvice() const;
    QString savedFoldersTitle() const;
    QString saveRefusedWhileOff() const;
    QString folderSaved() const;
    QString workspaceAccessDenied() const;

    // The background service.
    QString unknownUnitState() const;
    QString noServiceManager(const QString& busMessage) const;
    QString unitFileNotWritten(const QString& unitPath, const QString& reason) const;
    QString changeRefused(const QString& managerMessage) const;
    QString startTimedOut() const;
    QString blockedServiceDetail() const;
    QString blockedServiceButton() const;

private:
    bool isMac() const { return platform_ == Platform::macOS; }

    Platform platform_;
};

}  // namespace quorvane
