#pragma once

#include <QtQmlIntegration/qqmlintegration.h>

#include <QColor>
#include <QObject>
#include <QString>

#include "agent/AgentServiceState.h"

namespace quorvane {

// What the status card shows for one agent state: the pill, the sentence under it, the power
// button's position and the one button that leads to a fix. Views bind serviceState and read
// the rest.
class AgentStatusPresentation : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(quorvane::AgentServiceState serviceState READ serviceState WRITE setServiceState
                   NOTIFY serviceStateChanged)
    Q_PROPERTY(
        bool hasSavedToken READ hasSavedToken WRITE setHasSavedToken NOTIFY hasSavedTokenChanged)
    Q_PROPERTY(QString pillTitle READ pillTitle NOTIFY serviceStateChanged)
    Q_PROPERTY(QString detail READ detail NOTIFY detailChanged)
    Q_PROPERTY(QColor statusColor READ statusColor NOTIFY serviceStateChanged)
    Q_PROPERTY(bool isOn READ isOn NOTIFY serviceStateChanged)
    Q_PROPERTY(bool allowsPowerChange READ allowsPowerChange NOTIFY serviceStateChanged)
    Q_PROPERTY(ExtraButton extraButton READ extraButton NOTIFY serviceStateChanged)

public:
    enum class ExtraButton { NoExtraButton, ConfigureConnection, AllowBackgroundStart };
    Q_ENUM(ExtraButton)

    using QObject::QObject;

    AgentServiceState serviceState() const { return serviceState_; }
    void setServiceState(const AgentServiceState& state);
    bool hasSavedToken() const { return hasSavedToken_; }
    void setHasSavedToken(bool hasSavedToken);

    QString pillTitle() const;
    QString detail() const;
    QColor statusColor() const;
    // The agent counts as switched on: the power button is drawn green and a click turns it off.
    bool isOn() const;
    // Without a bundled agent there is nothing to switch.
    bool allowsPowerChange() const;
    ExtraButton extraButton() const;

Q_SIGNALS:
    void serviceStateChanged();
    void hasSavedTokenChanged();
    void detailChanged();

private:
    QString missingConfiguration() const;

    AgentServiceState serviceState_;
    bool hasSavedToken_ = false;
};

}  // namespace quorvane
