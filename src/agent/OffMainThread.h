#pragma once

#include <QObject>
#include <exception>
#include <functional>

namespace quorvane {

// Runs `work` on a detached thread of its own (the secret store may wait for seconds, or for
// the user, and the panel must be able to quit meanwhile); `done` gets its failure, null on
// success, on `context`'s thread and never after `context` is gone.
//
// Not QtConcurrent::run(...).then(context, ...): Qt 6.4's continuation posts to the context it
// captured when the work ends, and a context destroyed meanwhile is a null target; a watcher
// owned by `context` goes with it, pending notification included. Nor a thread pool: its
// threads carry Qt's GLib event dispatcher, a thread-default main context nobody iterates, and
// libsecret's objects on the session bus then outlive the read, so after the bus restarts GLib
// keeps handing out the closed connection and the secret store stays unreachable.
void runOffMainThread(QObject* context, std::function<void()> work,
                      std::function<void(std::exception_ptr)> done);

}  // namespace quorvane
