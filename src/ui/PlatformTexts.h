#pragma once

#include <QtQmlIntegration/qqmlintegration.h>

#include <QObject>
#include <QString>

#include "config/PlatformWording.h"

namespace quorvane {

// The platform's sentences for the views, so no view spells one out itself.
class PlatformTexts : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString headerSubtitle READ headerSubtitle CONSTANT)
    Q_PROPERTY(QString headerBadge READ headerBadge CONSTANT)
    Q_PROPERTY(QString workspaceUserPrefix READ workspaceUserPrefix CONSTANT)
    Q_PROPERTY(QString tokenAccessNeededLine READ tokenAccessNeededLine CONSTANT)
    Q_PROPERTY(QString updateNote READ updateNote CONSTANT)
    Q_PROPERTY(QString savedTokenProtection READ savedTokenProtection CONSTANT)
    Q_PROPERTY(QString tokenAccessHint READ tokenAccessHint CONSTANT)
    Q_PROPERTY(QString authorizingToken READ authorizingToken CONSTANT)
    Q_PROPERTY(QString workspaceIntroduction READ workspaceIntroduction CONSTANT)
    Q_PROPERTY(QString workspaceSaveAdvice READ workspaceSaveAdvice CONSTANT)
    Q_PROPERTY(QString savedFoldersTitle READ savedFoldersTitle CONSTANT)
    Q_PROPERTY(QString blockedServiceButton READ blockedServiceButton CONSTANT)

public:
    using QObject::QObject;

    QString headerSubtitle() const { return wording_.headerSubtitle(); }
    QString headerBadge() const { return wording_.headerBadge(); }
    QString workspaceUserPrefix() const { return wording_.workspaceUserPrefix(); }
    QString tokenAccessNeededLine() const { return wording_.tokenAccessNeededLine(); }
    QString updateNote() const { return wording_.updateNote(); }
    QString savedTokenProtection() const { return wording_.savedTokenProtection(); }
    QString tokenAccessHint() const { return wording_.tokenAccessHint(); }
    QString authorizingToken() const { return wording_.authorizingToken(); }
    QString workspaceIntroduction() const { return wording_.workspaceIntroduction(); }
    QString workspaceSaveAdvice() const { return wording_.workspaceSaveAdvice(); }
    QString savedFoldersTitle() const { return wording_.savedFoldersTitle(); }
    QString blockedServiceButton() const { return wording_.blockedServiceButton(); }

private:
    PlatformWording wording_ = PlatformWording::current();
};

}  // namespace quorvane
