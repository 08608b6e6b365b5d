#include "PanelTokenSource.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

#include "AgentProcessLogging.h"
#include "config/AgentContract.h"
#include "system/FileDescriptor.h"
#include "system/QuorvaneError.h"

extern char** environ;

namespace quorvane {

namespace {

// Far more than any token; a longer answer is not one.
constexpr std::size_t outputLimit = 64 * 1024;

// The token mode's output, overwritten before its memory is freed. It is read straight from
// the pipe into this one buffer, reserved once, so no other copy of the bytes is ever made.
class WipedOutput {
public:
    WipedOutput() { bytes_.reserve(outputLimit); }
    ~WipedOutput() { ::explicit_bzero(bytes_.data(), bytes_.capacity()); }
    WipedOutput(const WipedOutput&) = delete;
    WipedOutput& operator=(const WipedOutput&) = delete;

    // Appends what the pipe holds; false at its end or once the limit is reached.
    bool readFrom(int descriptor) {
        if (isFull()) {
            return false;
        }
        const std::size_t filled = bytes_.size();
        bytes_.resize(outputLimit);
        const ssize_t count = ::read(descriptor, bytes_.data() + filled, outputLimit - filled);
        bytes_.resize(filled + std::size_t(std::max<ssize_t>(count, 0)));
        return count != 0 && !(count < 0 && errno != EINTR && errno != EAGAIN);
    }

    QString toString() const { return QString::fromUtf8(bytes_.data(), qsizetype(bytes_.size())); }
    bool isEmpty() const { return bytes_.empty(); }
    bool isFull() const { return bytes_.size() == outputLimit; }

private:
    std::vector<char> bytes_;
};

struct TokenMode {
    pid_t pid;
    FileDescriptor output;
};

// The panel with its standard output into a pipe, its input and errors on /dev/null.
TokenMode start(const QString& panelPath) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw QuorvaneError(QStringLiteral("Не удалось запустить панель Quorvane: ") + panelPath);
    }
    FileDescriptor output(ends[0]);
    const FileDescriptor input(ends[1]);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, input.get(), STDOUT_FILENO);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const QByteArray program = QFile::encodeName(panelPath);
    QByteArray argument(AgentContract::readAgentTokenArgument.data(),
                        AgentContract::readAgentTokenArgument.size());
    char* const arguments[] = {const_cast<char*>(program.constData()), argument.data(), nullptr};
    pid_t pid = 0;
    const int failure =
        ::posix_spawn(&pid, program.constData(), &actions, nullptr, arguments, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (failure != 0) {
        throw QuorvaneError(QStringLiteral("Не удалось запустить панель Quorvane: ") + panelPath);
    }
    return {pid, std::move(output)};
}

// Reads the output until its end; false when the deadline came first.
bool readUntilEnd(int descriptor, WipedOutput& output, const QDeadlineTimer& deadline) {
    for (;;) {
        pollfd readable{descriptor, POLLIN, 0};
        const int ready = ::poll(&readable, 1, int(deadline.remainingTime()));
        if (ready == 0) {
            return false;
        }
        if (ready > 0 && !output.readFrom(descriptor)) {
            return true;
        }
    }
}

// The exit status once the panel has ended, or nothing when the deadline came first.
std::optional<int> waitForExit(pid_t pid, const QDeadlineTimer& deadline) {
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid || (ended < 0 && errno != EINTR)) {
            return ended == pid ? std::optional(status) : std::optional(-1);
        }
        if (deadline.hasExpired()) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

PanelTokenSource::PanelTokenSource(QString panelPath) : panelPath_(std::move(panelPath)) {}

QString PanelTokenSource::defaultPanelPath() {
    const QString overridden = qEnvironmentVariable("QUORVANE_PANEL");
    if (!overridden.isEmpty()) {
        return overridden;
    }
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../../bin/quorvane"));
}

std::optional<QString> PanelTokenSource::read() const {
    const QDeadlineTimer deadline(timeLimit);
    TokenMode panel = start(panelPath_);
    WipedOutput output;
    std::optional<int> status;
    if (readUntilEnd(panel.output.get(), output, deadline) && !output.isFull()) {
        status = waitForExit(panel.pid, deadline);
    }
    if (!status) {
        ::kill(panel.pid, SIGKILL);
        ::waitpid(panel.pid, nullptr, 0);
    }
    if (output.isFull()) {
        throw QuorvaneError(QStringLiteral("Панель Quorvane выдала вместо токена больше %1 КиБ")
                                .arg(outputLimit / 1024));
    }
    if (!status) {
        throw StoreUnavailable(QStringLiteral("Панель Quorvane не выдала токен устройства за %1 с")
                                   .arg(timeLimit.count() / 1000));
    }
    if (!WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
        qCDebug(lcAgentProcess, "the token mode ended with wait status %d", *status);
        throw StoreUnavailable(
            QStringLiteral("Не удалось прочитать токен устройства из хранилища паролей"));
    }
    if (output.isEmpty()) {
        return std::nullopt;
    }
    return output.toString();
}

}  // namespace quorvane
