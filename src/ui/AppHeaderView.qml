import QtQuick
import Quorvane.Ui
import QtQuick.Controls.Basic
import QtQuick.Layouts

// First row: the logo (when bundled), a divider, the subtitle and the system badge.
RowLayout {
    id: header

    property url logoSource: Qt.resolvedUrl("images/quorvane-logo-white-original.png")

    spacing: 16

    Image {
        objectName: "app.logo"
        source: header.logoSource
        // A missing or undecodable logo leaves no trace in the row.
        visible: status === Image.Ready
        fillMode: Image.PreserveAspectFit
        sourceSize: Qt.size(320, 120)
        Layout.preferredWidth: 160
        Layout.preferredHeight: 60
        Accessible.ignored: true
    }
    Rectangle {
        objectName: "app.divider"
        color: QuorvaneTheme.border
        Layout.preferredWidth: 1
        Layout.preferredHeight: 42
    }
    Label {
        objectName: "app.title"
        text: PlatformTexts.headerSubtitle
        font: TextStyles.subtitle
        color: SystemColors.secondaryLabel
    }
    Item {
        Layout.fillWidth: true
    }
    Label {
        objectName: "app.systemBadge"
        text: PlatformTexts.headerBadge
        font: TextStyles.captionMedium
        color: SystemColors.secondaryLabel
        leftPadding: 10
        rightPadding: 10
        topPadding: 6
        bottomPadding: 6
        background: Rectangle {
            radius: height / 2
            color: Qt.rgba(1, 1, 1, 0.06)
        }
    }
}
