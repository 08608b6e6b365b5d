#pragma once

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <stdexcept>

namespace quorvane::testing {

// A session bus of its own with no service on it and, without service directories, none to
// activate.
class EmptyBus {
public:
    EmptyBus() {
        QFile configuration(directory_.filePath(QStringLiteral("bus.conf")));
        const QString text = QStringLiteral(
            "<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>"
            "<policy context=\"default\"><allow own=\"*\"/><allow eavesdrop=\"true\"/>"
            "<allow send_destination=\"*\" eavesdrop=\"true\"/></policy></busconfig>");
        if (!configuration.open(QIODevice::WriteOnly) ||
            configuration.write(text.arg(directory_.path()).toUtf8()) < 0) {
            throw std::runtime_error("cannot write the bus configuration");
        }
        configuration.close();
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                       QStringLiteral("--config-file=") + configuration.fileName()});
        if (!daemon_.waitForReadyRead(10000)) {
            throw std::runtime_error("dbus-daemon did not start");
        }
        address_ = QString::fromUtf8(daemon_.readLine().trimmed());
    }
    ~EmptyBus() {
        daemon_.kill();
        daemon_.waitForFinished();
    }
    QString address() const { return address_; }

private:
    QTemporaryDir directory_;
    QProcess daemon_;
    QString address_;
};

}  // namespace quorvane::testing
