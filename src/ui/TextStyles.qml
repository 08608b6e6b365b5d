pragma Singleton
import QtQuick

// Text styles of the window, from the smallest caption up to the titles.
QtObject {
    readonly property font caption: Qt.font({ pixelSize: 11 })
    readonly property font captionMedium: Qt.font({ pixelSize: 11, weight: Font.Medium })
    readonly property font captionBoldTracked: Qt.font({ pixelSize: 11, weight: Font.Bold, letterSpacing: 1.1 })
    readonly property font monospacedCaption: Qt.font({ family: "monospace", pixelSize: 11 })
    readonly property font subheadline: Qt.font({ pixelSize: 12 })
    readonly property font callout: Qt.font({ pixelSize: 12 })
    readonly property font body: Qt.font({ pixelSize: 13 })
    readonly property font headline: Qt.font({ pixelSize: 14, weight: Font.DemiBold })
    readonly property font subtitle: Qt.font({ pixelSize: 15, weight: Font.Medium })
    readonly property font title3Bold: Qt.font({ pixelSize: 16, weight: Font.Bold })
    readonly property font title2Bold: Qt.font({ pixelSize: 18, weight: Font.Bold })
}
