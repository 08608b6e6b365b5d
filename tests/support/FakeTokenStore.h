#pragma once

#include <atomic>
#include <optional>

#include "config/AgentTokenStorageError.h"
#include "config/AgentTokenStoring.h"

namespace quorvane::testing {

// A secret store in memory; it can refuse reads or saves like a locked keyring. The refusals
// are atomic because the panel reads the store on a worker thread while the test flips them.
class FakeTokenStore final : public AgentTokenStoring {
public:
    std::optional<QString> read() const override {
        refuseIf(refusesRead);
        return token;
    }
    void save(const QString& newToken) const override {
        refuseIf(refusesSave);
        token = newToken;
        ++saveCount;
    }

    mutable std::optional<QString> token;
    std::atomic<bool> refusesRead = false, refusesSave = false;
    mutable std::atomic<int> saveCount = 0;

private:
    static void refuseIf(bool refuses) {
        if (refuses) {
            throw AgentTokenStorageError(AgentTokenStorageError::interactionNotAllowed);
        }
    }
};

}  // namespace quorvane::testing
