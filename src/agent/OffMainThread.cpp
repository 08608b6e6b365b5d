#include "agent/OffMainThread.h"

#include <QFutureWatcher>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace quorvane {

namespace {

// Never destroyed: the global pool is waited for when the application object goes, and a read
// waiting for the user's answer in the desktop's prompt must not keep the panel from quitting.
QThreadPool* unawaitedPool() {
    static QThreadPool* const pool = [] {
        auto* created = new QThreadPool;
        created->setMaxThreadCount(8);
        return created;
    }();
    return pool;
}

std::exception_ptr failureOf(const std::function<void()>& work) {
    try {
        work();
        return nullptr;
    } catch (...) {
        return std::current_exception();
    }
}

}  // namespace

void runOffMainThread(QObject* context, std::function<void()> work,
                      std::function<void(std::exception_ptr)> done) {
    auto* watcher = new QFutureWatcher<std::exception_ptr>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, watcher,
                     [watcher, done = std::move(done)] {
                         done(watcher->future().result());
                         watcher->deleteLater();
                     });
    watcher->setFuture(QtConcurrent::run(unawaitedPool(), failureOf, std::move(work)));
}

}  // namespace quorvane
