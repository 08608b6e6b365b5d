#pragma once

#include <QObject>
#include <QSocketNotifier>

namespace quorvane {

// SIGTERM and SIGINT turned into a Qt signal on the main thread (self-pipe), so that stopping
// runs in the event loop and not in a signal handler.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    TerminationSignals();
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

Q_SIGNALS:
    void received();

private:
    static void handle(int signal);
    void drain();

    int readEnd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace quorvane
