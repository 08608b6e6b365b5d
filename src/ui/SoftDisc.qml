import QtQuick
import QtQuick.Shapes

// A filled circle whose edge is blurred by `blurRadius`: the colour fades out from one blur
// radius inside the rim to one outside it, along a Gaussian edge.
Shape {
    id: disc

    property real diameter: 100
    property real blurRadius: 0
    property color color: "black"

    readonly property real outerRadius: diameter / 2 + blurRadius

    function rimStop(offset) {
        return (diameter / 2 + offset * blurRadius) / outerRadius;
    }
    function faded(coverage) {
        return Qt.rgba(color.r, color.g, color.b, color.a * coverage);
    }

    width: 2 * outerRadius
    height: 2 * outerRadius

    ShapePath {
        strokeWidth: -1
        strokeColor: "transparent"
        fillGradient: RadialGradient {
            centerX: disc.outerRadius
            centerY: disc.outerRadius
            centerRadius: disc.outerRadius
            focalX: disc.outerRadius
            focalY: disc.outerRadius
            GradientStop { position: 0; color: disc.color }
            GradientStop { position: disc.rimStop(-1); color: disc.color }
            GradientStop { position: disc.rimStop(-0.5); color: disc.faded(0.84) }
            GradientStop { position: disc.rimStop(0); color: disc.faded(0.5) }
            GradientStop { position: disc.rimStop(0.5); color: disc.faded(0.16) }
            GradientStop { position: 1; color: disc.faded(0) }
        }
        PathAngleArc {
            centerX: disc.outerRadius
            centerY: disc.outerRadius
            radiusX: disc.outerRadius
            radiusY: disc.outerRadius
            startAngle: 0
            sweepAngle: 360
        }
    }
}
