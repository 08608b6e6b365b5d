#pragma once

#include <QString>
#include <optional>
#include <stdexcept>

#include "config/AgentTokenStoring.h"

namespace quorvane::testing {

// A token store in memory; reads and saves can be made to fail like a locked keychain.
class FakeTokenStore final : public AgentTokenStoring {
public:
    explicit FakeTokenStore(std::optional<QString> token = std::nullopt)
        : token_(std::move(token)) {}

    std::optional<QString> read() const override {
        if (failsReads) {
            throw std::runtime_error("keychain locked");
        }
        return token_;
    }

    void save(const QString& token) const override {
        if (failsSaves) {
            throw std::runtime_error("keychain locked");
        }
        token_ = token;
        ++saveCount;
    }

    std::optional<QString> token() const { return token_; }

    bool failsReads = false;
    bool failsSaves = false;
    mutable int saveCount = 0;

private:
    mutable std::optional<QString> token_;
};

}  // namespace quorvane::testing
