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
    static constexpr std::int32_t otherFailure = -25293;

    explicit AgentTokenStorageError(std::int32_t status);

    std::int32_t status() const { return status_; }

private:
    std::int32_t status_;
};

}  // namespace quorvane
