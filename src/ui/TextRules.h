#pragma once

#include <QtQmlIntegration/qqmlintegration.h>

#include <QObject>
#include <QString>

namespace quorvane {

// Text tests of the views. QML's String.trim() also strips U+FEFF, a format character, not
// white space; QChar::isSpace matches the Unicode white-space and line-break set exactly.
class TextRules : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // Nothing but whitespace and line breaks: the Unicode separators, tab, LF, VT, FF, CR, NEL.
    Q_INVOKABLE static bool isBlank(const QString& text) { return text.trimmed().isEmpty(); }
};

}  // namespace quorvane
