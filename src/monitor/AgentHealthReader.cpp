#include "monitor/AgentHealthReader.h"

#include <sys/stat.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include "config/AgentContract.h"
#include "monitor/MonitorLogging.h"
#include "system/ReadOnlyFile.h"

namespace quorvane {

namespace {

// The agent writes a few hundred bytes; anything this large is not its health file and is not
// worth holding in memory on the main thread.
constexpr qint64 maximumFileSize = 1024 * 1024;

std::optional<QByteArray> readSmallFile(const QString& path) {
    const auto file = ReadOnlyFile::openRegular(path);
    if (!file) {
        return std::nullopt;
    }
    if (file->size() > maximumFileSize) {
        qCDebug(lcMonitor, "health file of %lld bytes set aside", qlonglong(file->size()));
        return std::nullopt;
    }
    return file->readAt(0, file->size());
}

std::optional<AgentHealthSnapshot> decode(const QByteArray& bytes) {
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject()) {
        qCDebug(lcMonitor, "health file is no JSON object; set aside");
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    const QJsonValue version = object.value(QLatin1StringView("version"));
    const QJsonValue status = object.value(QLatin1StringView("status"));
    const QJsonValue message = object.value(QLatin1StringView("message"));
    const QJsonValue updatedAt = object.value(QLatin1StringView("updated_at"));
    if (!version.isString() || !status.isString() || !updatedAt.isString() ||
        (!message.isString() && !message.isNull() && !message.isUndefined())) {
        qCDebug(lcMonitor, "health file lacks a field or has one of another type; set aside");
        return std::nullopt;
    }
    AgentHealthSnapshot snapshot{version.toString(), status.toString(), std::nullopt,
                                 updatedAt.toString()};
    if (message.isString()) {
        snapshot.message = message.toString();
    }
    return snapshot;
}

}  // namespace

AgentHealthReader::AgentHealthReader(QString path) : path_(std::move(path)) {}

QString AgentHealthReader::defaultPath() {
    return AgentContract::healthFilePath();
}

std::optional<AgentHealthSnapshot> AgentHealthReader::readSnapshot() const {
    const auto bytes = readSmallFile(path_);
    std::optional<AgentHealthSnapshot> snapshot = bytes ? decode(*bytes) : std::nullopt;
    if (struct stat status = {};
        snapshot && ::stat(QFile::encodeName(path_).constData(), &status) == 0) {
        snapshot->writtenAt = QDateTime::fromMSecsSinceEpoch(qint64(status.st_mtim.tv_sec) * 1000 +
                                                             status.st_mtim.tv_nsec / 1000000);
    }
    return snapshot;
}

}  // namespace quorvane
