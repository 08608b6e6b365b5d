#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "config/AgentConfigurationStore.h"

namespace quorvane {

// The device token as the settings show it, and the load of the configuration that yields its
// state: the folders at once from the file, the token's state from the secret store on a
// worker, applied on the main thread. Only the latest load is applied.
class AgentTokenSettings : public QObject {
    Q_OBJECT

public:
    // May throw; runs on a worker thread. Asks the desktop to unlock the token.
    using AuthorizeToken = std::function<void()>;

    AgentTokenSettings(AgentConfigurationStore store, AuthorizeToken authorizeToken,
                       QObject* parent = nullptr);

    const QString& draft() const { return draft_; }
    void setDraft(const QString& draft);
    const QString& status() const { return status_; }
    bool hasSavedToken() const { return hasSavedToken_; }
    bool accessNeeded() const { return accessNeeded_; }
    bool isAuthorizing() const { return isAuthorizing_; }
    bool isSaving() const { return isSaving_; }

    // then() runs once the token's state is applied.
    void load(std::function<void()> then = {});
    // True when the draft is valid and its save has begun; tokenSaved() follows on success.
    bool save();
    // accessGranted() follows when the store allowed access.
    void authorize();

Q_SIGNALS:
    void draftChanged();
    void statusChanged();
    void hasSavedTokenChanged();
    void accessNeededChanged();
    void isAuthorizingChanged();
    void isSavingChanged();
    void tokenSaved();
    void accessGranted();
    void rootsLoaded(const QList<WorkspaceRootConfiguration>& roots);
    // A failure's text for the settings sheet.
    void failed(const QString& message);

private:
    void applyLoaded(const AgentConfiguration& configuration);
    void applyFailedLoad(const std::exception_ptr& failure);
    void finishSave(const std::exception_ptr& failure);
    void finishAuthorization(const std::exception_ptr& failure);
    QList<WorkspaceRootConfiguration> rootsFromFileAlone() const;

    AgentConfigurationStore store_;
    AuthorizeToken authorizeToken_;
    QString draft_;
    QString status_;
    bool hasSavedToken_ = false;
    bool accessNeeded_ = false;
    bool isAuthorizing_ = false;
    bool isSaving_ = false;
    quint64 loads_ = 0;
};

}  // namespace quorvane
