#pragma once

#include <QObject>
#include <exception>
#include <functional>

namespace quorvane {

// Runs `work` on a worker thread (the secret store may wait for seconds, or for the user);
// `done` gets its failure, null on success, on `context`'s thread and never after `context` is
// gone. The workers never hold up the process's exit.
//
// QFuture::then(context, ...) of Qt 6.4 cannot promise the last part: it posts to the context
// it captured when the work ends, and a context destroyed meanwhile is a null target. A watcher
// owned by `context` goes with it, and with it the pending notification.
void runOffMainThread(QObject* context, std::function<void()> work,
                      std::function<void(std::exception_ptr)> done);

}  // namespace quorvane
