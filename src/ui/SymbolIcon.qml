import QtQuick
import QtQuick.Controls.impl

// A monochrome symbol from the desktop's icon theme (`name`), drawn from the bundled picture
// `fallback` (a file in icons/, without extension) where the theme has none.
IconImage {
    property string fallback
    property real size: 16

    source: fallback.length > 0 ? Qt.resolvedUrl("icons/" + fallback + ".svg") : ""
    sourceSize: Qt.size(size, size)
    width: size
    height: size
    fillMode: Image.PreserveAspectFit
    Accessible.ignored: true
}
