#include "agent/AgentFailure.h"

#include "agent/AgentServiceError.h"
#include "config/AgentTokenStorageError.h"

namespace quorvane {

QString failureDescription(const std::exception_ptr& failure) {
    if (!failure) {
        return QString();
    }
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        return QString::fromUtf8(error.what());
    } catch (...) {
        return QString();
    }
}

bool isTokenStorageFailure(const std::exception_ptr& failure) {
    if (!failure) {
        return false;
    }
    try {
        std::rethrow_exception(failure);
    } catch (const AgentTokenStorageError&) {
        return true;
    } catch (...) {
        return false;
    }
}

bool isServiceRefusal(const std::exception_ptr& failure) {
    if (!failure) {
        return false;
    }
    try {
        std::rethrow_exception(failure);
    } catch (const AgentServiceError& error) {
        return error.kind() == AgentServiceError::Kind::refused;
    } catch (...) {
        return false;
    }
}

}  // namespace quorvane
