#pragma once

#include <QString>
#include <optional>

namespace quorvane {

// Where the device token is kept. Implementations throw AgentTokenStorageError.
class AgentTokenStoring {
public:
    virtual ~AgentTokenStoring() = default;

    // The stored token (possibly empty), or nothing when no token is stored.
    virtual std::optional<QString> read() const = 0;
    // Stores the token, replacing a stored one; never prompts the user.
    virtual void save(const QString& token) const = 0;
};

}  // namespace quorvane
