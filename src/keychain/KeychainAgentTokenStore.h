#pragma once

#include "config/AgentTokenStoring.h"

namespace quorvane {

// The device token as an item of the desktop's Secret Service (default collection),
// attributes service="ru.quorvane.agent", account="device-token".
class KeychainAgentTokenStore final : public AgentTokenStoring {
public:
    explicit KeychainAgentTokenStore(bool allowsAuthenticationUI);

    bool allowsAuthenticationUI() const { return allowsAuthenticationUI_; }

    std::optional<QString> read() const override;
    void save(const QString& token) const override;

    // Process-wide, false at start: while false, no operation of any store may unlock or prompt.
    static void setUserInteractionAllowed(bool allowed);
    static bool isUserInteractionAllowed();

private:
    bool allowsAuthenticationUI_;
};

}  // namespace quorvane
