#include "config/ConfigurationText.h"

#include <QList>

#include "config/LineBreaks.h"

namespace quorvane::ConfigurationText {

namespace {

constexpr QStringView workspacePrefix = u"workspace.";

bool isSpace(QChar character) {
    return character == QLatin1Char('\t') || character.category() == QChar::Separator_Space;
}

bool isSpaceOrLineBreak(QChar character) {
    return isSpace(character) || LineBreaks::isLineBreak(character);
}

template <typename Predicate>
QStringView trimmed(QStringView text, Predicate shouldTrim) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && shouldTrim(text[begin])) {
        ++begin;
    }
    while (end > begin && shouldTrim(text[end - 1])) {
        --end;
    }
    return text.sliced(begin, end - begin);
}

bool isHexDigit(QChar character) {
    const char16_t code = character.unicode();
    return (code >= u'0' && code <= u'9') || (code >= u'a' && code <= u'f') ||
           (code >= u'A' && code <= u'F');
}

bool isHyphenatedUuid(QStringView text) {
    if (text.size() != 36) {
        return false;
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool hyphenPosition = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphenPosition ? text[i] != QLatin1Char('-') : !isHexDigit(text[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

QStringView trimmedSpaces(QStringView text) {
    return trimmed(text, isSpace);
}

QStringView trimmedSpacesAndLineBreaks(QStringView text) {
    return trimmed(text, isSpaceOrLineBreak);
}

std::optional<QString> normalizedWorkspaceID(QStringView text) {
    QStringView identifier = trimmedSpacesAndLineBreaks(text);
    if (identifier.startsWith(workspacePrefix)) {
        identifier = identifier.sliced(workspacePrefix.size());
    }
    if (!isHyphenatedUuid(identifier)) {
        return std::nullopt;
    }
    return identifier.toString().toLower();
}

bool isAbsolutePath(QStringView path) {
    return path.startsWith(QLatin1Char('/'));
}

bool isUnusablePath(QStringView path) {
    return path.isEmpty() || !isAbsolutePath(path) || LineBreaks::containsLineBreak(path) ||
           path.contains(QChar(u'\0'));
}

bool survivesConfigurationFile(QStringView standardizedPath) {
    return !isUnusablePath(standardizedPath) &&
           trimmedSpaces(standardizedPath).size() == standardizedPath.size();
}

QString standardizedPath(QStringView absolutePath) {
    QList<QStringView> components;
    for (QStringView component : absolutePath.split(QLatin1Char('/'))) {
        if (component.isEmpty() || component == u".") {
            continue;
        }
        if (component == u"..") {
            if (!components.isEmpty()) {
                components.removeLast();
            }
            continue;
        }
        components.append(component);
    }
    QString standardized;
    standardized.reserve(absolutePath.size());
    for (QStringView component : components) {
        standardized += QLatin1Char('/');
        standardized += component;
    }
    return standardized.isEmpty() ? QStringLiteral("/") : standardized;
}

}  // namespace quorvane::ConfigurationText
