import QtQuick
import QtQuick.Shapes
import Dovrel.Controller

// A small line chart of fractions 0…1, oldest first: the area under the line fading from the colour at
// 35 % to 2 %, then the line itself, round-capped. The points come from SparklineGeometry.
Item {
    id: spark
    property list<real> values
    property color color: Theme.accent

    SparklineGeometry {
        id: geometry
        values: spark.values
        width: spark.width
        height: spark.height
    }

    Shape {
        anchors.fill: parent
        ShapePath {
            strokeColor: "transparent"
            fillGradient: LinearGradient {
                x1: 0
                y1: 0
                x2: 0
                y2: spark.height
                GradientStop {
                    position: 0
                    color: Qt.alpha(spark.color, 0.35)
                }
                GradientStop {
                    position: 1
                    color: Qt.alpha(spark.color, 0.02)
                }
            }
            PathSvg {
                path: geometry.area
            }
        }
        ShapePath {
            strokeColor: Qt.alpha(spark.color, 0.9)
            strokeWidth: 1.5
            fillColor: "transparent"
            capStyle: ShapePath.RoundCap
            joinStyle: ShapePath.RoundJoin
            miterLimit: 10
            PathSvg {
                path: geometry.line
            }
        }
    }
}
