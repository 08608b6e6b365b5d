#pragma once

#include <QRandomGenerator>
#include <QString>
#include <QUuid>
#include <optional>
#include <stdexcept>

#include "config/AgentConfiguration.h"
#include "config/AgentTokenStoring.h"

namespace quorvane::testing {

inline QString validToken(QChar filler = QLatin1Char('A')) {
    return QStringLiteral("qv_agent_") + QString(43, filler);
}

inline QString randomUuid(QRandomGenerator& random) {
    QByteArray bytes(16, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32*>(bytes.data()), 4);
    return QUuid::fromRfc4122(bytes).toString(QUuid::WithoutBraces);
}

// A token store in memory; reads and saves can be made to fail like a locked keychain.
class FakeTokenStore final : public AgentTokenStoring {
public:
    explicit FakeTokenStore(std::optional<QString> token = std::nullopt)
        : token_(std::move(token)) {}

    std::optional<QString> read() const override {
        if (failsReads) {
            throw std::runtime_error("keychain locked");
        }
        return token_;
    }

    void save(const QString& token) const override {
        if (failsSaves) {
            throw std::runtime_error("keychain locked");
        }
        token_ = token;
        ++saveCount;
    }

    std::optional<QString> token() const { return token_; }

    bool failsReads = false;
    bool failsSaves = false;
    mutable int saveCount = 0;

private:
    mutable std::optional<QString> token_;
};

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
