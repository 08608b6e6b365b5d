#include "TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "config/PosixError.h"

namespace quorvane {

namespace {

volatile sig_atomic_t writeEnd = -1;

}  // namespace

TerminationSignals::TerminationSignals() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::system_error(errno, std::generic_category(),
                                "не удалось создать канал сигналов");
    }
    readEnd_ = ends[0];
    writeEnd = ends[1];
    notifier_ = new QSocketNotifier(readEnd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::drain);

    struct sigaction action {};
    action.sa_handler = &TerminationSignals::handle;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    ::close(writeEnd);
    writeEnd = -1;
    ::close(readEnd_);
}

void TerminationSignals::handle(int) {
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(writeEnd, &byte, 1);
    errno = savedErrno;
}

void TerminationSignals::drain() {
    char bytes[16];
    while (::read(readEnd_, bytes, sizeof bytes) > 0) {
    }
    Q_EMIT received();
}

}  // namespace quorvane
