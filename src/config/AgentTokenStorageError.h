#pragma once

#include <cstdint>

#include "system/QuorvaneError.h"

namespace quorvane {

// A failure of the secret store, carrying its status code.
class AgentTokenStorageError : public QuorvaneError {
public:
    static constexpr std::int32_t itemNotFound = -25300;
    static constexpr std::int32_t decodeFailed = -26275;
    static constexpr std::int32_t interactionNotAllowed = -25308;
    static constexpr std::int32_t userCanceled = -128;
    static constexpr std::int32_t serviceUnavailable = -25291;
    static constexpr std::int32_t noCollection = -25294;
    static constexpr std::int32_t otherFailure = -25293;

    // Why the store refused; each cause the user can act on differently has a message of its own.
    enum class Cause {
        statusOnly,
        // The collection is open, but the provider hides the item from every program the user
        // has not confirmed (KeePassXC's per-client confirmation).
        clientConfirmationRequired,
    };

    explicit AgentTokenStorageError(std::int32_t status, Cause cause = Cause::statusOnly);

    std::int32_t status() const { return status_; }
    Cause cause() const { return cause_; }

private:
    std::int32_t status_;
    Cause cause_;
};

}  // namespace quorvane
