// The configuration file's text format: parse and serialize.
#include <QHash>
#include <algorithm>

#include "config/AgentConfigurationError.h"
#include "config/AgentConfigurationStore.h"
#include "config/ConfigurationText.h"
#include "config/LineBreaks.h"

namespace quorvane {

namespace {

constexpr QStringView workspaceKeyPrefix = u"workspace.";
constexpr QStringView writeFlagSuffix = u".write";

[[noreturn]] void throwMalformed(const QString& detail) {
    throw AgentConfigurationError::malformedConfiguration(detail);
}

// Collects the data lines of one text, stopping at the first fault.
class ConfigurationParser {
public:
    void readLine(QStringView line, qsizetype number) {
        const QStringView content = ConfigurationText::trimmedSpaces(line);
        if (content.isEmpty() || content.startsWith(QLatin1Char('#'))) {
            return;
        }
        const qsizetype equalsSign = content.indexOf(QLatin1Char('='));
        if (equalsSign < 0) {
            throwMalformed(QStringLiteral("строка %1 не содержит знак =").arg(number));
        }
        const QStringView key = ConfigurationText::trimmedSpaces(content.first(equalsSign));
        const QStringView value = ConfigurationText::trimmedSpaces(content.sliced(equalsSign + 1));
        if (key == u"token") {
            readToken(value);
        } else if (key.startsWith(workspaceKeyPrefix)) {
            readWorkspaceLine(key.sliced(workspaceKeyPrefix.size()), value, number);
        } else {
            throwMalformed(QStringLiteral("неизвестный параметр ").append(key));
        }
    }

    AgentConfiguration result() const {
        throwIfAWriteFlagLacksItsPath();
        AgentConfiguration configuration;
        configuration.token = token_;
        configuration.workspaceRoots.reserve(paths_.size());
        for (auto path = paths_.cbegin(); path != paths_.cend(); ++path) {
            configuration.workspaceRoots.append(
                {path.key(), path.value(), writeFlags_.value(path.key(), false)});
        }
        std::sort(configuration.workspaceRoots.begin(), configuration.workspaceRoots.end(),
                  [](const auto& a, const auto& b) { return a.id < b.id; });
        return configuration;
    }

private:
    void readToken(QStringView value) {
        if (token_) {
            throwMalformed(QStringLiteral("параметр token повторяется"));
        }
        token_ = AgentConfigurationStore::validateToken(value.toString());
    }

    void readWorkspaceLine(QStringView rest, QStringView value, qsizetype number) {
        const bool isWriteFlag = rest.endsWith(writeFlagSuffix);
        const QStringView identifier = isWriteFlag ? rest.chopped(writeFlagSuffix.size()) : rest;
        const std::optional<QString> id = ConfigurationText::normalizedWorkspaceID(identifier);
        if (!id) {
            throwMalformed(QStringLiteral("некорректный UUID в строке %1").arg(number));
        }
        if (isWriteFlag) {
            readWriteFlag(*id, value);
        } else {
            readPath(*id, value);
        }
    }

    void readPath(const QString& id, QStringView value) {
        if (paths_.contains(id)) {
            throwMalformed(QStringLiteral("workspace.%1 повторяется").arg(id));
        }
        // "/a/ /" would be stored as "/a/ ", which the next save writes and the next read
        // trims to "/a": a path the file cannot give back unchanged is refused.
        const QString path = ConfigurationText::isUnusablePath(value)
                                 ? QString()
                                 : ConfigurationText::standardizedPath(value);
        if (!ConfigurationText::survivesConfigurationFile(path)) {
            throwMalformed(QStringLiteral("путь workspace.%1 некорректен").arg(id));
        }
        paths_.insert(id, path);
    }

    void readWriteFlag(const QString& id, QStringView value) {
        if (writeFlags_.contains(id)) {
            throwMalformed(QStringLiteral("workspace.%1.write повторяется").arg(id));
        }
        if (value != u"true" && value != u"false") {
            throwMalformed(QStringLiteral("workspace.%1.write должен быть true или false").arg(id));
        }
        writeFlags_.insert(id, value == u"true");
    }

    // When several flags lack their path, the smallest identifier is named.
    void throwIfAWriteFlagLacksItsPath() const {
        std::optional<QString> orphan;
        for (auto flag = writeFlags_.cbegin(); flag != writeFlags_.cend(); ++flag) {
            if (!paths_.contains(flag.key()) && (!orphan || flag.key() < *orphan)) {
                orphan = flag.key();
            }
        }
        if (orphan) {
            throwMalformed(QStringLiteral("для workspace.%1.write не задан путь").arg(*orphan));
        }
    }

    std::optional<QString> token_;
    QHash<QString, QString> paths_;
    QHash<QString, bool> writeFlags_;
};

}  // namespace

AgentConfiguration AgentConfigurationStore::parse(const QString& text) {
    ConfigurationParser parser;
    qsizetype number = 0;
    for (QStringView line : LineBreaks::split(text)) {
        parser.readLine(line, ++number);
    }
    return parser.result();
}

QString AgentConfigurationStore::serialize(const AgentConfiguration& configuration) {
    QList<WorkspaceRootConfiguration> roots = configuration.workspaceRoots;
    std::stable_sort(roots.begin(), roots.end(),
                     [](const auto& a, const auto& b) { return a.id < b.id; });
    QString text = QStringLiteral("# Quorvane Agent — управляется приложением Quorvane\n");
    for (const WorkspaceRootConfiguration& root : roots) {
        text.append(workspaceKeyPrefix).append(root.id).append(u'=').append(root.path);
        text.append(u'\n');
        text.append(workspaceKeyPrefix).append(root.id).append(writeFlagSuffix).append(u'=');
        text.append(root.writeEnabled ? u"true" : u"false").append(u'\n');
    }
    return text;
}

}  // namespace quorvane
