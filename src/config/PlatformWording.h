#pragma once

#include <QString>
#include <cstdint>

namespace quorvane {

// Every user-visible sentence that names the operating system. Each platform has its own source
// file of these sentences and the build compiles only the one for its platform, so nothing
// chooses between them at run time.
class PlatformWording {
public:
    // The wording of the platform this build is for.
    static constexpr PlatformWording current() { return PlatformWording(); }

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
    constexpr PlatformWording() = default;
};

}  // namespace quorvane
