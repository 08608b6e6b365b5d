#pragma once

#include <QRandomGenerator>
#include <QString>
#include <QTest>
#include <QUuid>

#include "config/AgentConfiguration.h"
#include "tests/support/FakeTokenStore.h"

namespace quorvane::testing {

inline QString validToken(QChar filler = QLatin1Char('A')) {
    return QStringLiteral("qv_agent_") + QString(43, filler);
}

inline QString randomUuid(QRandomGenerator& random) {
    QByteArray bytes(16, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32*>(bytes.data()), 4);
    return QUuid::fromRfc4122(bytes).toString(QUuid::WithoutBraces);
}

}  // namespace quorvane::testing

// Readable failures in QCOMPARE.
namespace QTest {
template <>
inline char* toString(const quorvane::AgentConfiguration& configuration) {
    QString text = QStringLiteral("token=%1 roots=[")
                       .arg(configuration.token.value_or(QStringLiteral("<none>")));
    for (const auto& root : configuration.workspaceRoots) {
        text +=
            QStringLiteral("(%1 %2 %3)").arg(root.id, root.path, root.writeEnabled ? u"rw" : u"ro");
    }
    text += QLatin1Char(']');
    return qstrdup(text.toUtf8().constData());
}
}  // namespace QTest
