#include "agent/AgentTokenSettings.h"

#include <memory>

#include "agent/AgentFailure.h"
#include "agent/OffMainThread.h"
#include "agent/Published.h"

namespace quorvane {

using namespace Qt::StringLiterals;

namespace {

struct LoadedConfiguration {
    AgentConfiguration configuration;
    // The file could not be read; the configuration then holds only the stored token.
    std::exception_ptr fileFailure;
};

// The token's state comes from the secret store whatever the file holds; a failure of the store
// is the load's failure.
LoadedConfiguration loadConfiguration(const AgentConfigurationStore& store) {
    try {
        return {store.load(), nullptr};
    } catch (...) {
        if (isTokenStorageFailure(std::current_exception())) {
            throw;
        }
        return {{store.storedToken(), {}}, std::current_exception()};
    }
}

}  // namespace

AgentTokenSettings::AgentTokenSettings(AgentConfigurationStore store, AuthorizeToken authorizeToken,
                                       QObject* parent)
    : QObject(parent),
      store_(std::move(store)),
      authorizeToken_(std::move(authorizeToken)),
      status_(u"Не настроен"_s) {}

void AgentTokenSettings::setDraft(const QString& draft) {
    publish(this, draft_, draft, &AgentTokenSettings::draftChanged);
}

void AgentTokenSettings::load(std::function<void()> then) {
    Q_EMIT rootsLoaded(rootsFromFileAlone());
    const quint64 load = ++loads_;
    auto loaded = std::make_shared<LoadedConfiguration>();
    runOffMainThread(
        this, [store = store_, loaded] { *loaded = loadConfiguration(store); },
        [this, load, loaded, then = std::move(then)](const std::exception_ptr& failure) {
            if (load != loads_) {
                return;  // a later load is under way and will publish
            }
            if (failure) {
                applyFailedLoad(failure);
            } else {
                applyLoaded(loaded->configuration);
            }
            if (loaded->fileFailure) {
                Q_EMIT failed(failureDescription(loaded->fileFailure));
            }
            if (then) {
                then();
            }
        });
}

void AgentTokenSettings::applyLoaded(const AgentConfiguration& configuration) {
    publish(this, accessNeeded_, false, &AgentTokenSettings::accessNeededChanged);
    publish(this, status_, AgentConfigurationStore::maskedToken(configuration.token),
            &AgentTokenSettings::statusChanged);
    publish(this, hasSavedToken_, configuration.token && !configuration.token->isEmpty(),
            &AgentTokenSettings::hasSavedTokenChanged);
    Q_EMIT rootsLoaded(configuration.workspaceRoots);
}

void AgentTokenSettings::applyFailedLoad(const std::exception_ptr& failure) {
    publish(this, status_, u"Не удалось прочитать"_s, &AgentTokenSettings::statusChanged);
    publish(this, accessNeeded_, isTokenStorageFailure(failure),
            &AgentTokenSettings::accessNeededChanged);
    publish(this, hasSavedToken_, false, &AgentTokenSettings::hasSavedTokenChanged);
    Q_EMIT rootsLoaded(rootsFromFileAlone());
    Q_EMIT failed(failureDescription(failure));
}

QList<WorkspaceRootConfiguration> AgentTokenSettings::rootsFromFileAlone() const {
    try {
        return store_.loadFile().workspaceRoots;
    } catch (...) {
        return {};
    }
}

bool AgentTokenSettings::save() {
    if (isSaving_) {
        return false;
    }
    try {
        AgentConfigurationStore::validateToken(draft_);
    } catch (...) {
        Q_EMIT failed(failureDescription(std::current_exception()));
        return false;
    }
    publish(this, isSaving_, true, &AgentTokenSettings::isSavingChanged);
    runOffMainThread(
        this, [store = store_, draft = draft_] { store.storeToken(draft); },
        [this](const std::exception_ptr& failure) { finishSave(failure); });
    return true;
}

void AgentTokenSettings::finishSave(const std::exception_ptr& failure) {
    publish(this, isSaving_, false, &AgentTokenSettings::isSavingChanged);
    if (failure) {
        publish(this, accessNeeded_, isTokenStorageFailure(failure),
                &AgentTokenSettings::accessNeededChanged);
        Q_EMIT failed(failureDescription(failure));
        return;
    }
    setDraft(QString());
    Q_EMIT tokenSaved();
}

void AgentTokenSettings::authorize() {
    if (isAuthorizing_) {
        return;
    }
    publish(this, isAuthorizing_, true, &AgentTokenSettings::isAuthorizingChanged);
    // The desktop's prompt may wait for the user for as long as it likes; the panel can quit
    // meanwhile.
    runOffMainThread(this, authorizeToken_,
                     [this](const std::exception_ptr& failure) { finishAuthorization(failure); });
}

void AgentTokenSettings::finishAuthorization(const std::exception_ptr& failure) {
    publish(this, isAuthorizing_, false, &AgentTokenSettings::isAuthorizingChanged);
    if (failure) {
        Q_EMIT failed(failureDescription(failure));
        return;
    }
    Q_EMIT accessGranted();
}

}  // namespace quorvane
