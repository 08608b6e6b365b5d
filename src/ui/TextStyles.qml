pragma Singleton
import QtQuick

// Text styles of the window, from the smallest caption up to the headline.
QtObject {
    readonly property font caption: Qt.font({ pixelSize: 11 })
    readonly property font captionMedium: Qt.font({ pixelSize: 11, weight: Font.Medium })
    readonly property font captionBoldTracked: Qt.font({ pixelSize: 11, weight: Font.Bold, letterSpacing: 1.1 })
    readonly property font monospacedCaption: Qt.font({ family: "monospace", pixelSize: 11 })
    readonly property font subheadline: Qt.font({ pixelSize: 12 })
    readonly property font body: Qt.font({ pixelSize: 13 })
    readonly property font headline: Qt.font({ pixelSize: 14, weight: Font.DemiBold })
    readonly property font subtitle: Qt.font({ pixelSize: 15, weight: Font.Medium })
}
