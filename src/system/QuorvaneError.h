#pragma once

#include <QString>
#include <stdexcept>

namespace quorvane {

// Base of the errors the panel shows to the user: what() is the Russian message in UTF-8,
// ready to be shown unchanged.
class QuorvaneError : public std::runtime_error {
public:
    explicit QuorvaneError(const QString& message) : std::runtime_error(message.toStdString()) {}

    QString message() const { return QString::fromUtf8(what()); }
};

}  // namespace quorvane
