#pragma once

#include <QtQmlIntegration/qqmlintegration.h>

#include <QColor>
#include <QObject>

namespace quorvane {

// The desktop's standard named colours as the dark appearance draws them. The panel keeps its
// own values instead of the desktop's accent so the window looks the same everywhere. Red and
// blue are a shade lighter than the usual dark-appearance values, so that text in them keeps a
// contrast of 4.5:1 on the panel's backgrounds and on the status pill's tint.
class SystemColors : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QColor red READ red CONSTANT)
    Q_PROPERTY(QColor orange READ orange CONSTANT)
    Q_PROPERTY(QColor green READ green CONSTANT)
    Q_PROPERTY(QColor gray READ gray CONSTANT)
    Q_PROPERTY(QColor blue READ blue CONSTANT)
    Q_PROPERTY(QColor label READ label CONSTANT)
    Q_PROPERTY(QColor secondaryLabel READ secondaryLabel CONSTANT)

public:
    using QObject::QObject;

    static QColor red() { return QColor(255, 96, 86); }
    static QColor orange() { return QColor(255, 159, 10); }
    static QColor green() { return QColor(48, 209, 88); }
    static QColor gray() { return QColor(142, 142, 147); }
    static QColor blue() { return QColor(32, 138, 255); }
    // Primary and secondary foreground on the dark background.
    static QColor label() { return QColor(255, 255, 255, 217); }
    static QColor secondaryLabel() { return QColor(235, 235, 245, 156); }
};

}  // namespace quorvane
