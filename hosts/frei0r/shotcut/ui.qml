// Shotcut's panel for the frei0r.tarvo filter: the record file and the
// scene (each sets every setting at once), the clip's field order, and the
// settings people change most, shown in the record's units with keyframes.
// The plug-in takes each number as 0..1 across the setting's range:
// x = (value - minimum) / (maximum - minimum).
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Dialogs 1.2
import QtQuick.Layouts 1.12
import Shotcut.Controls 1.0 as Shotcut

Item {
    id: root

    // One line per setting; a test checks these against the plug-in's
    // parameter list (names, ranges, defaults).
    readonly property var settings: [
        { property: 'Lift', title: qsTr('Lift'), minimum: -100, maximum: 100, defaultValue: 0, suffix: '' },
        { property: 'Gain', title: qsTr('Gain'), minimum: 0, maximum: 800, defaultValue: 100, suffix: ' %' },
        { property: 'Gamma', title: qsTr('Gamma'), minimum: -100, maximum: 100, defaultValue: 0, suffix: '' },
        { property: 'Sat', title: qsTr('Saturation'), minimum: 0, maximum: 200, defaultValue: 100, suffix: ' %' },
        { property: 'YDespeckle', title: qsTr('Luma despeckle'), minimum: 0, maximum: 4, defaultValue: 0, suffix: '' },
        { property: 'CDespeckle', title: qsTr('Colour despeckle'), minimum: 0, maximum: 4, defaultValue: 0, suffix: '' },
        { property: 'YSharpness', title: qsTr('Luma sharpness'), minimum: -100, maximum: 100, defaultValue: 0, suffix: '' },
        { property: 'TempYThreshold', title: qsTr('Temporal luma'), minimum: 0, maximum: 100, defaultValue: 0, suffix: '' },
        { property: 'TempCThreshold', title: qsTr('Temporal colour'), minimum: 0, maximum: 100, defaultValue: 0, suffix: '' }
    ]
    readonly property var fieldOrders: ['progressive', 'tff', 'bff']
    property bool blockUpdate: true

    // Asks every setting's row to show the filter's value at the playhead.
    signal refresh()

    function toParam(s, value) {
        return (value - s.minimum) / (s.maximum - s.minimum);
    }

    function fromParam(s, x) {
        return Math.round(s.minimum + x * (s.maximum - s.minimum));
    }

    function getPosition() {
        return Math.max(producer.position - (filter.in - producer.in), 0);
    }

    function setControls() {
        blockUpdate = true;
        recordField.text = recordPath(filter.get('record'));
        sceneField.text = filter.get('scene');
        var order = fieldOrders.indexOf(filter.get('fields'));
        fieldsCombo.currentIndex = order < 0 ? 0 : order;
        refresh();
        blockUpdate = false;
    }

    // The record is stored as a keyframe at 0 ("0=/path/clean.rec", saved by
    // Shotcut as "00:00:00.000=/path/clean.rec"): Shotcut saves a value that
    // starts with the project's folder relative to it, which the plug-in
    // would then look for in the working folder; the keyframe form keeps the
    // whole path (and one holding '=').
    function recordValue(path) {
        return path === '' ? '' : '0=' + path;
    }

    function recordPath(value) {
        var time = value.match(/^[0-9:.]+=/);
        return time ? value.substring(time[0].length) : value;
    }

    // A file URL from the dialog as a local path.
    function localPath(url) {
        var text = url.toString();
        if (text.indexOf('file://') === 0)
            text = text.substring(7);
        return decodeURIComponent(text);
    }

    width: 350
    height: 140 + settings.length * 34
    Component.onCompleted: {
        if (filter.isNew) {
            // The built-in defaults: a record or scene chosen later is not
            // undone by them.
            filter.set('record', '');
            filter.set('scene', '');
            filter.set('fields', 'progressive');
            for (var i = 0; i < settings.length; ++i)
                filter.set(settings[i].property, toParam(settings[i], settings[i].defaultValue));
        }
        setControls();
    }

    FileDialog {
        id: recordDialog

        title: qsTr('Open a Tarvo record')
        selectMultiple: false
        selectFolder: false
        nameFilters: [qsTr('Tarvo records (*.rec *.REC)'), qsTr('All files (*)')]
        onAccepted: {
            recordField.text = localPath(recordDialog.fileUrl);
            filter.set('record', recordValue(recordField.text));
        }
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 8

        GridLayout {
            columns: 3
            Layout.fillWidth: true

            Label {
                text: qsTr('Record')
                Layout.alignment: Qt.AlignRight
            }

            TextField {
                id: recordField

                Layout.fillWidth: true
                placeholderText: qsTr('none: the settings below')
                selectByMouse: true
                onEditingFinished: {
                    if (!blockUpdate && text !== recordPath(filter.get('record')))
                        filter.set('record', recordValue(text));
                }
            }

            RowLayout {
                Shotcut.Button {
                    text: qsTr('Open...')
                    onClicked: recordDialog.open()
                }

                Shotcut.UndoButton {
                    onClicked: {
                        recordField.text = '';
                        filter.set('record', '');
                    }
                }
            }

            Label {
                text: qsTr('Scene')
                Layout.alignment: Qt.AlignRight
            }

            TextField {
                id: sceneField

                Layout.fillWidth: true
                placeholderText: qsTr('none')
                selectByMouse: true
                onEditingFinished: {
                    if (!blockUpdate && text !== filter.get('scene'))
                        filter.set('scene', text);
                }
            }

            Shotcut.UndoButton {
                onClicked: {
                    sceneField.text = '';
                    filter.set('scene', '');
                }
            }

            Label {
                text: qsTr('Fields')
                Layout.alignment: Qt.AlignRight
            }

            Shotcut.ComboBox {
                id: fieldsCombo

                Layout.fillWidth: true
                model: [qsTr('Progressive'), qsTr('Top field first'), qsTr('Bottom field first')]
                onActivated: filter.set('fields', fieldOrders[index])
            }

            Item {
                width: 1
            }
        }

        Label {
            Layout.fillWidth: true
            wrapMode: Text.WordWrap
            text: qsTr('A record or scene sets every setting; a setting moved afterwards changes only itself.')
        }

        Repeater {
            model: root.settings

            RowLayout {
                id: row

                readonly property var setting: modelData

                function show() {
                    // A setting the project does not hold is at the plug-in's default.
                    if (filter.get(setting.property) === '')
                        slider.value = setting.defaultValue;
                    else
                        slider.value = fromParam(setting, filter.getDouble(setting.property, getPosition()));
                    keyframesButton.checked = filter.keyframeCount(setting.property) > 0;
                }

                function store(value) {
                    var x = toParam(setting, value);
                    if (keyframesButton.checked)
                        filter.set(setting.property, x, getPosition());
                    else
                        filter.set(setting.property, x);
                }

                Layout.fillWidth: true

                Label {
                    text: setting.title
                    Layout.preferredWidth: 110
                    horizontalAlignment: Text.AlignRight
                    elide: Text.ElideRight
                }

                Shotcut.SliderSpinner {
                    id: slider

                    Layout.fillWidth: true
                    minimumValue: setting.minimum
                    maximumValue: setting.maximum
                    stepSize: 1
                    decimals: 0
                    suffix: setting.suffix
                    onValueChanged: {
                        if (!blockUpdate)
                            store(value);
                    }
                }

                Shotcut.UndoButton {
                    onClicked: slider.value = setting.defaultValue
                }

                Shotcut.KeyframesButton {
                    id: keyframesButton

                    onToggled: {
                        var x = toParam(setting, slider.value);
                        if (checked) {
                            filter.clearSimpleAnimation(setting.property);
                            filter.set(setting.property, x, getPosition());
                        } else {
                            filter.resetProperty(setting.property);
                            filter.set(setting.property, x);
                        }
                    }
                }

                Connections {
                    function onRefresh() {
                        row.show();
                    }

                    target: root
                }
            }
        }

        Item {
            Layout.fillHeight: true
        }
    }

    Connections {
        function onChanged() {
            setControls();
        }

        target: filter
    }

    Connections {
        function onPositionChanged() {
            setControls();
        }

        target: producer
    }
}
