#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <iterator>
#include <memory>

namespace quorvane {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the main thread. The handler only
// writes the signal's number into a pipe; the event loop reads it, so whatever is connected
// runs as ordinary main-thread code. One instance at a time; the previous handlers come back
// when it is destroyed.
//
// With a stop deadline the process must stop at any point, even while its main thread is busy
// and cannot reach the event loop: a blocking call is interrupted by the signal instead of
// resumed, and the process exits (status 0) when the orderly stop has not ended it within the
// deadline.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    // Throws std::system_error when the pipe or a handler cannot be set up.
    explicit TerminationSignals(QObject* parent = nullptr,
                                std::chrono::seconds stopDeadline = std::chrono::seconds::zero());
    ~TerminationSignals() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    static constexpr int handledSignals[] = {SIGTERM, SIGINT, SIGHUP};

    void setStopDeadline(std::chrono::seconds stopDeadline);
    void readPending();
    void restoreHandlers(std::size_t count);
    void closePipe();

    const bool hasStopDeadline_;
    int readEnd_ = -1;
    struct sigaction previous_[std::size(handledSignals)] = {};
    struct sigaction previousAlarm_ = {};
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace quorvane
