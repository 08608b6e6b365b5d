#pragma once

#include "config/AgentTokenStorageError.h"
#include "config/AgentTokenStoring.h"

namespace quorvane::testing {

// A secret store holding the test's token; locked, it refuses reads, and refusing, saves.
class FakeTokenStore final : public AgentTokenStoring {
public:
    FakeTokenStore(std::optional<QString> token, bool locked, bool refusesSave = false)
        : token_(std::move(token)), locked_(locked), refusesSave_(refusesSave) {}

    std::optional<QString> read() const override {
        if (locked_) {
            throw AgentTokenStorageError(AgentTokenStorageError::interactionNotAllowed);
        }
        return token_;
    }

    void save(const QString& token) const override {
        if (refusesSave_) {
            throw AgentTokenStorageError(AgentTokenStorageError::interactionNotAllowed);
        }
        token_ = token;
    }

private:
    mutable std::optional<QString> token_;
    bool locked_;
    bool refusesSave_;
};

}  // namespace quorvane::testing
