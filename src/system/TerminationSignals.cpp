#include "system/TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace quorvane {

namespace {

// The write end of the pipe and the stop deadline, the only things the handlers touch.
volatile std::sig_atomic_t signalWriteEnd = -1;
volatile std::sig_atomic_t stopDeadlineSeconds = 0;
volatile std::sig_atomic_t stopDeadlineArmed = 0;

void forwardSignal(int signalNumber) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a pending quit; losing this byte changes nothing.
    [[maybe_unused]] const auto written = ::write(signalWriteEnd, &byte, 1);
    if (stopDeadlineSeconds > 0 && stopDeadlineArmed == 0) {
        stopDeadlineArmed = 1;
        ::alarm(unsigned(stopDeadlineSeconds));
    }
    errno = savedErrno;
}

void stopNow(int) {
    ::_exit(0);
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent, std::chrono::seconds stopDeadline)
    : QObject(parent), hasStopDeadline_(stopDeadline.count() > 0) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::system_error(errno, std::generic_category(),
                                "Не удалось создать канал для сигналов завершения");
    }
    readEnd_ = ends[0];
    signalWriteEnd = ends[1];

    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    // Without a deadline, calls resume after the handler; with one, they return EINTR so that
    // nothing the main thread waits on can outlast the signal.
    action.sa_flags = hasStopDeadline_ ? 0 : SA_RESTART;
    if (hasStopDeadline_) {
        setStopDeadline(stopDeadline);
    }
    for (std::size_t index = 0; index < std::size(handledSignals); ++index) {
        if (::sigaction(handledSignals[index], &action, &previous_[index]) != 0) {
            const int error = errno;
            restoreHandlers(index);
            closePipe();
            throw std::system_error(error, std::generic_category(),
                                    "Не удалось установить обработчик сигнала завершения");
        }
    }

    notifier_ = std::make_unique<QSocketNotifier>(readEnd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::readPending);
}

TerminationSignals::~TerminationSignals() {
    restoreHandlers(std::size(handledSignals));
    notifier_.reset();
    closePipe();
}

void TerminationSignals::restoreHandlers(std::size_t count) {
    for (std::size_t index = 0; index < count; ++index) {
        ::sigaction(handledSignals[index], &previous_[index], nullptr);
    }
    // Past the orderly stop the deadline has no more work; a pending alarm must not kill the
    // process once the previous action is back.
    if (hasStopDeadline_) {
        ::alarm(0);
        stopDeadlineSeconds = 0;
        ::sigaction(SIGALRM, &previousAlarm_, nullptr);
    }
}

void TerminationSignals::setStopDeadline(std::chrono::seconds stopDeadline) {
    stopDeadlineSeconds = std::sig_atomic_t(stopDeadline.count());
    stopDeadlineArmed = 0;
    struct sigaction action = {};
    action.sa_handler = stopNow;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGALRM, &action, &previousAlarm_);
}

void TerminationSignals::closePipe() {
    ::close(signalWriteEnd);
    signalWriteEnd = -1;
    ::close(readEnd_);
    readEnd_ = -1;
}

void TerminationSignals::readPending() {
    unsigned char byte = 0;
    while (::read(readEnd_, &byte, 1) == 1) {
        Q_EMIT received(byte);
    }
}

}  // namespace quorvane
