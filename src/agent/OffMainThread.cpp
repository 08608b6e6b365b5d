#include "agent/OffMainThread.h"

#include <QFutureWatcher>
#include <QPromise>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace quorvane {

void runOffMainThread(QObject* context, std::function<void()> work,
                      std::function<void(std::exception_ptr)> done) {
    QPromise<std::exception_ptr> promise;
    auto* watcher = new QFutureWatcher<std::exception_ptr>(context);
    QObject::connect(
        watcher, &QFutureWatcherBase::finished, watcher, [watcher, done = std::move(done)] {
            const QFuture<std::exception_ptr> outcome = watcher->future();
            done(outcome.resultCount() > 0
                     ? outcome.result()
                     : std::make_exception_ptr(std::runtime_error("background task did not run")));
            watcher->deleteLater();
        });
    watcher->setFuture(promise.future());
    try {
        std::thread([promise = std::move(promise), work = std::move(work)]() mutable {
            promise.start();
            std::exception_ptr failure;
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
            promise.addResult(failure);
            promise.finish();
        }).detach();
    } catch (const std::system_error&) {
        // The promise went with the thread that could not start; the watcher reports it.
    }
}

}  // namespace quorvane
