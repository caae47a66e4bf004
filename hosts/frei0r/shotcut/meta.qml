// The filter's entry in Shotcut's filter list: what it is called, where it
// is found, which settings the keyframes panel offers. Values are the
// plug-in's own 0..1 numbers; the panel (ui.qml) shows the record's units.
import QtQuick 2.0
import org.shotcut.qml 1.0

Metadata {
    type: Metadata.Filter
    objectName: 'tarvo'
    name: qsTr('Tarvo Clean-up and Colour')
    keywords: qsTr('tarvo clean denoise noise despeckle temporal smoothing colour color correction lift gain gamma saturation sharpen record scene interlaced')
    mlt_service: 'frei0r.tarvo'
    qml: 'ui.qml'

    keyframes {
        parameters: [
            Parameter { name: qsTr('Lift'); property: 'Lift'; isCurve: true; minimum: 0; maximum: 1 },
            Parameter { name: qsTr('Gain'); property: 'Gain'; isCurve: true; minimum: 0; maximum: 1 },
            Parameter { name: qsTr('Gamma'); property: 'Gamma'; isCurve: true; minimum: 0; maximum: 1 },
            Parameter { name: qsTr('Saturation'); property: 'Sat'; isCurve: true; minimum: 0; maximum: 1 },
            Parameter { name: qsTr('Luminance despeckle'); property: 'YDespeckle'; isCurve: true; minimum: 0; maximum: 1 },
            Parameter { name: qsTr('Colour despeckle'); property: 'CDespeckle'; isCurve: true; minimum: 0; maximum: 1 },
            Parameter { name: qsTr('Luminance sharpness'); property: 'YSharpness'; isCurve: true; minimum: 0; maximum: 1 },
            Parameter { name: qsTr('Temporal luminance threshold'); property: 'TempYThreshold'; isCurve: true; minimum: 0; maximum: 1 },
            Parameter { name: qsTr('Temporal colour threshold'); property: 'TempCThreshold'; isCurve: true; minimum: 0; maximum: 1 }
        ]
    }
}
