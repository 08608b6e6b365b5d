#pragma once

#include <QString>
#include <exception>

namespace quorvane {

// The failure's user message (a QuorvaneError's what() is its message); empty for none.
QString failureDescription(const std::exception_ptr& failure);
// The secret store refused: the token section then offers to ask it for access.
bool isTokenStorageFailure(const std::exception_ptr& failure);
// The service manager refused the change, as opposed to failing to carry it out.
bool isServiceRefusal(const std::exception_ptr& failure);

}  // namespace quorvane
