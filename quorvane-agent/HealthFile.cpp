#include "HealthFile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include "system/PrivateFiles.h"

namespace quorvane {

HealthFile::HealthFile(QString path) : path_(std::move(path)) {}

void HealthFile::write(QLatin1StringView status, const std::optional<QString>& message) const {
    const QJsonObject object{
        {QStringLiteral("version"), QCoreApplication::applicationVersion()},
        {QStringLiteral("status"), status},
        {QStringLiteral("message"), message ? QJsonValue(*message) : QJsonValue()},
        {QStringLiteral("updated_at"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
    };
    PrivateFiles::createPrivateDirectory(PrivateFiles::directoryOf(path_));
    PrivateFiles::replaceAtomically(path_, QJsonDocument(object).toJson(QJsonDocument::Compact),
                                    u".agent-health-");
}

}  // namespace quorvane
