#pragma once

#include <QObject>
#include <utility>

namespace quorvane {

// Assigns a published value and notifies its observers, also when the value is unchanged: the
// views re-read what was assigned (a repeated message is scrolled into view again, and every
// refresh cycle announces the state).
template <typename Owner, typename Value, typename Given>
void publish(Owner* owner, Value& field, Given&& value, void (Owner::*changed)()) {
    field = std::forward<Given>(value);
    Q_EMIT(owner->*changed)();
}

}  // namespace quorvane
