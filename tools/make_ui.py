#!/usr/bin/env python3
"""Writes the three window templates (Qt Designer .ui files) from the tables below.

Every control carries its numeric id as the dynamic property controlId; the windows find
controls by id. Geometry is in pixels relative to the parent widget; where a window was laid
out in dialog units, px() converts (x * 1.5, y * 1.625).

    tools/make_ui.py resources/ui
"""
import sys
from pathlib import Path
from xml.sax.saxutils import escape


def px(x, y, w, h):
    return (round(x * 1.5), round(y * 1.625), round(w * 1.5), round(h * 1.625))


class C:
    def __init__(self, cid, cls, name, text=None, geo=(0, 0, 0, 0), parent=None, **props):
        self.cid, self.cls, self.name, self.text = cid, cls, name, text
        self.geo, self.parent, self.props = geo, parent, props


def prop(name, value, stdset=True):
    attr = "" if stdset else ' stdset="0"'
    if isinstance(value, bool):
        body = f"<bool>{'true' if value else 'false'}</bool>"
    elif isinstance(value, int):
        body = f"<number>{value}</number>"
    elif isinstance(value, tuple) and value[0] == "enum":
        body = f"<enum>{value[1]}</enum>"
    elif isinstance(value, tuple) and value[0] == "set":
        body = f"<set>{value[1]}</set>"
    else:
        body = f"<string>{escape(value)}</string>"
    return f'<property name="{name}"{attr}>{body}</property>'


TEXT_PROP = {
    "QGroupBox": "title",
    "QLabel": "text",
    "QCheckBox": "text",
    "QPushButton": "text",
    "QRadioButton": "text",
    "QLineEdit": "text",
}


def widget_xml(c, children, indent):
    pad = " " * indent
    out = [f'{pad}<widget class="{c.cls}" name="{c.name}">']
    x, y, w, h = c.geo
    out.append(f"{pad} <property name=\"geometry\"><rect><x>{x}</x><y>{y}</y>"
               f"<width>{w}</width><height>{h}</height></rect></property>")
    if c.text is not None and c.cls in TEXT_PROP:
        out.append(pad + " " + prop(TEXT_PROP[c.cls], c.text))
    for k, v in c.props.items():
        out.append(pad + " " + prop(k, v))
    if c.cid is not None:
        out.append(pad + " " + prop("controlId", c.cid, stdset=False))
    for child in children.get(c.name, []):
        out.extend(widget_xml(child, children, indent + 1))
    out.append(f"{pad}</widget>")
    return out


def write_ui(path, cls_name, title, size, controls, root_layout=False, custom=()):
    children = {}
    for c in controls:
        children.setdefault(c.parent or "client", []).append(c)
    w, h = size
    lines = ['<?xml version="1.0" encoding="UTF-8"?>', '<ui version="4.0">', f"<class>{cls_name}</class>",
             f'<widget class="QDialog" name="{cls_name}">',
             f' <property name="geometry"><rect><x>0</x><y>0</y><width>{w}</width><height>{h}</height></rect></property>',
             " " + prop("windowTitle", title),
             ' <property name="font"><font><pointsize>8</pointsize></font></property>']
    if root_layout:
        # The menu bar goes into this layout at run time; the client area holds the controls
        # at fixed positions, so shrinking the window hides the right-hand column.
        lines += [' <layout class="QVBoxLayout" name="rootLayout">',
                  '  <property name="spacing"><number>0</number></property>',
                  '  <property name="leftMargin"><number>0</number></property>',
                  '  <property name="topMargin"><number>0</number></property>',
                  '  <property name="rightMargin"><number>0</number></property>',
                  '  <property name="bottomMargin"><number>0</number></property>',
                  '  <item>', '   <widget class="QWidget" name="client">']
        for c in children.get("client", []):
            lines.extend(widget_xml(c, children, 4))
        lines += ['   </widget>', '  </item>', ' </layout>']
    else:
        for c in children.get("client", []):
            lines.extend(widget_xml(c, children, 1))
    lines.append("</widget>")
    if custom:
        lines.append("<customwidgets>")
        for cls, base, header in custom:
            lines.append(f" <customwidget><class>{cls}</class><extends>{base}</extends>"
                         f"<header>{header}</header></customwidget>")
        lines.append("</customwidgets>")
    lines += ["<resources/>", "<connections/>", "</ui>", ""]
    Path(path).write_text("\n".join(lines), encoding="utf-8")


CENTER = ("set", "Qt::AlignCenter")
VCENTER = ("set", "Qt::AlignLeading|Qt::AlignLeft|Qt::AlignVCenter")
RIGHT = ("set", "Qt::AlignRight|Qt::AlignTrailing|Qt::AlignVCenter")
HORIZ = ("enum", "Qt::Horizontal")
SUNKEN = ("enum", "QFrame::StyledPanel")


def value_label(cid, name, text, geo, parent):
    # Values the camera reports: a sunken field, selectable so an engineer can copy them.
    return C(cid, "QLabel", name, text, geo, parent, frameShape=SUNKEN,
             textInteractionFlags=("set", "Qt::TextSelectableByMouse"))


def btn(cid, name, text, geo, parent=None, **kw):
    return C(cid, "QPushButton", name, text, geo, parent, autoDefault=False, **kw)


def panel_controls():
    c = []
    # Column 1: identity, calibration, lens calibration.
    c.append(C(1047, "QGroupBox", "groupCameraInformation", "Camera Information", (10, 8, 330, 156)))
    g = "groupCameraInformation"
    rows = [(1059, "labelModel", "Model:", 1048, "textModel", "Model Description"),
            (1049, "labelPartNumber", "Part Number:", 1050, "textPartNumber", "Camera's reported PN"),
            (1051, "labelSerialNumber", "Serial Number:", 1052, "textSerialNumber", "Camera's reported SN"),
            (1055, "labelRelease", "Rel:", 1056, "textRelease", "Camera's Release #"),
            (1057, "labelRtlRelease", "RTL Rel:", 1058, "textRtlRelease", "Camera's RTL Rel #")]
    for i, (lid, lname, ltext, vid, vname, vtext) in enumerate(rows):
        y = 24 + i * 26
        c.append(C(lid, "QLabel", lname, ltext, (12, y, 92, 22), g, alignment=RIGHT))
        c.append(value_label(vid, vname, vtext, (110, y, 208, 22), g))

    c.append(C(1005, "QGroupBox", "groupCalibration", "Calibration", (10, 170, 330, 122)))
    g = "groupCalibration"
    c.append(C(1002, "QCheckBox", "checkAutoCal", "Enable Auto-Cal", (12, 22, 200, 22), g))
    c.append(btn(1007, "buttonAutoCalDown", "-", (12, 50, 28, 26), g))
    c.append(C(1006, "QLineEdit", "editAutoCalPeriod", "", (44, 50, 64, 26), g, readOnly=True, alignment=CENTER))
    c.append(btn(1008, "buttonAutoCalUp", "+", (112, 50, 28, 26), g))
    c.append(C(1043, "QLabel", "labelAutoCalPeriod", "Auto Cal. Period (m)", (148, 50, 170, 26), g))
    c.append(btn(1003, "buttonCalShutter", "&Manual 1-Pt Shutter", (12, 84, 150, 28), g))
    c.append(btn(1004, "buttonCalNoShutter", "Manual 1-Pt &No Shutter", (168, 84, 150, 28), g))

    c.append(C(1079, "QGroupBox", "groupLensCal", "Lens Cal", (10, 298, 330, 138)))
    g = "groupLensCal"
    c.append(C(1119, "QLabel", "labelLensCalHint",
               "To Calibrate lens cal. Place camera facing a flat field. Click Start Calibration, "
               "click Save to Camera", (12, 20, 306, 44), g, wordWrap=True))
    c.append(btn(1094, "buttonLensCalStart", "Start &Calibration", (12, 70, 150, 28), g))
    c.append(btn(1100, "buttonLensCalSave", "Save &to Camera", (168, 70, 150, 28), g))
    c.append(C(1113, "QCheckBox", "checkLensCal", "Enable Lens Cal", (12, 106, 200, 22), g))

    # Column 2: polarity, orientation, colour, video.
    x2 = 350
    c.append(C(1016, "QGroupBox", "groupPolarity", "Polarity", (x2, 8, 220, 78)))
    c.append(C(1014, "QRadioButton", "radioWhiteHot", "White Hot", (12, 22, 190, 22), "groupPolarity"))
    c.append(C(1015, "QRadioButton", "radioBlackHot", "Black Hot", (12, 48, 190, 22), "groupPolarity"))

    c.append(C(1013, "QGroupBox", "groupOrientation", "Image Orientation", (x2, 92, 220, 128)))
    for i, (cid, name, text) in enumerate([(1009, "radioNormal", "Normal"),
                                           (1010, "radioFlipVertical", "Flip Vertically"),
                                           (1011, "radioFlipHorizontal", "Flip Horizontally"),
                                           (1012, "radioFlipBoth", "Flip Both")]):
        c.append(C(cid, "QRadioButton", name, text, (12, 22 + i * 25, 190, 22), "groupOrientation"))

    c.append(C(1044, "QGroupBox", "groupColorization", "HSV Colorization", (x2, 226, 220, 66)))
    c.append(C(1045, "QLabel", "labelPalette", "Color &Palette:", (12, 26, 84, 26), "groupColorization"))
    c.append(C(1104, "CWComboIconBox", "comboPaletteIcons", None, (98, 26, 110, 26), "groupColorization"))

    c.append(C(1036, "QGroupBox", "groupVideoMode", "Video Mode", (x2, 298, 220, 138)))
    g = "groupVideoMode"
    c.append(C(1031, "QCheckBox", "checkAnalogVideo", "Enable Analog Video", (12, 22, 200, 22), g, enabled=False))
    c.append(C(1038, "QCheckBox", "checkParallelVideo", "Enable Parallel Digital Video", (12, 46, 200, 22), g))
    c.append(C(-1, "QLabel", "labelCameraLinkMode", "Cameralink Video Mode", (12, 74, 196, 20), g))
    c.append(C(1039, "QComboBox", "comboVideoMode", None, (12, 96, 196, 26), g))

    # Column 3: AGC.
    x3 = 580
    c.append(C(1060, "QGroupBox", "groupAgc", "AGC", (x3, 8, 360, 428)))
    c.append(C(1061, "QGroupBox", "groupGainLevelControl", "Gain/Level Control", (10, 20, 340, 82), "groupAgc"))
    g = "groupGainLevelControl"
    c.append(C(1062, "QRadioButton", "radioAgcAutomatic", "Automatic AGC", (12, 22, 150, 22), g))
    c.append(C(1063, "QRadioButton", "radioAgcFreeze", "Freeze AGC", (170, 22, 160, 22), g))
    c.append(C(1064, "QRadioButton", "radioAgcManual", "Manual", (12, 50, 150, 22), g))
    c.append(C(1065, "QRadioButton", "radioAgcHistogram", "Histogram Equalization", (170, 50, 160, 22), g))

    c.append(C(1081, "QGroupBox", "groupAgcRoi", "AGC ROI Control", (10, 108, 340, 82), "groupAgc"))
    g = "groupAgcRoi"
    c.append(C(-1, "QLabel", "labelRoiStatus", "Status:", (12, 22, 50, 22), g))
    c.append(C(1116, "QLabel", "labelRoi", "Full Screen", (66, 22, 200, 22), g))
    # Six positions: a click in the groove moves one of them, not from end to end.
    c.append(C(1066, "QSlider", "sliderRoi", None, (12, 48, 316, 24), g, orientation=HORIZ, pageStep=1))

    c.append(C(1067, "QGroupBox", "groupGainLevelBias", "AGC Gain/Level Bias", (10, 196, 340, 134), "groupAgc"))
    g = "groupGainLevelBias"
    c.append(C(1074, "QLabel", "labelStep", "Step:", (12, 24, 48, 26), g))
    c.append(btn(1018, "buttonStepDown", "-", (64, 24, 28, 26), g))
    c.append(C(1019, "QLineEdit", "editStep", "", (96, 24, 56, 26), g, readOnly=True, alignment=CENTER))
    c.append(btn(1020, "buttonStepUp", "+", (156, 24, 28, 26), g))
    for row, (lid, lname, ltext, down, slider, up, vid, vname) in enumerate([
            (1070, "labelGain", "Gain:", 1021, 1068, 1022, 1072, "textGainValue"),
            (1071, "labelLevel", "Level:", 1023, 1069, 1024, 1073, "textLevelValue")]):
        y = 60 + row * 34
        kind = "Gain" if row == 0 else "Level"
        c.append(C(lid, "QLabel", lname, ltext, (12, y, 48, 26), g))
        c.append(btn(down, f"button{kind}Down", "<", (64, y, 26, 26), g))
        c.append(C(slider, "QSlider", f"slider{kind}", None, (94, y, 172, 26), g, orientation=HORIZ))
        c.append(btn(up, f"button{kind}Up", ">", (270, y, 26, 26), g))
        c.append(C(vid, "QLabel", vname, "2048", (300, y, 36, 26), g, alignment=RIGHT))

    c.append(C(1075, "QGroupBox", "groupTemporalNr", "Temporal Noise Reduction", (10, 336, 340, 80), "groupAgc"))
    g = "groupTemporalNr"
    c.append(C(1076, "QCheckBox", "checkTemporalNr", "Enable", (12, 30, 100, 22), g))
    c.append(C(1077, "QLabel", "labelThreshold", "Th&reshold:", (130, 28, 80, 26), g, alignment=RIGHT))
    c.append(C(1078, "QLineEdit", "editThreshold", "", (216, 28, 70, 26), g))

    # Bottom row. Letters after "&" are the buttons' and fields' Alt keys, unique in the window.
    c.append(C(1121, "QGroupBox", "groupStatus", "Camera Communication Status", (10, 444, 540, 58)))
    c.append(C(1103, "QLabel", "textStatus", "Camera Communication Status - Unknown", (12, 22, 516, 26),
               "groupStatus", frameShape=SUNKEN))
    c.append(btn(1029, "buttonSaveParameters", "&Save Non-Volatile Parameters", (560, 458, 180, 36)))
    c.append(btn(1102, "buttonFactoryDefaults", "Factory &Defaults", (746, 458, 100, 36)))
    c.append(btn(1046, "buttonExit", "E&xit Program", (852, 458, 88, 36)))

    # Detector power: created hidden.
    c.append(C(1109, "QGroupBox", "groupDetectorPower", "Detector power", (980, 8, 200, 60), visible=False))
    c.append(btn(1107, "buttonDetectorStartup", "Startup", (10, 22, 84, 28), "groupDetectorPower", visible=False))
    c.append(btn(1108, "buttonDetectorShutdown", "Shutdown", (104, 22, 84, 28), "groupDetectorPower",
                 visible=False))

    # Right-hand column: present, bound and updated, but outside the window once it has shrunk.
    xr = 1200
    c.append(C(1041, "QLabel", "labelCalStatus", "Cal Status", (xr, 8, 80, 22)))
    c.append(C(1042, "QLabel", "textCalStatus", "OK", (xr + 90, 8, 60, 22)))
    c.append(C(1040, "QComboBox", "comboPalette", None, (xr, 36, 140, 26)))
    c.append(C(1030, "QGroupBox", "groupAnalogVideo", "Analog Video", (xr, 68, 150, 128)))
    for i, (cid, name, text) in enumerate([(1032, "radioNtsc", "NTSC"), (1033, "radioPalM", "PAL-M"),
                                           (1034, "radioPalN", "PAL-N"), (1035, "radioPalBdghin2", "PAL-BDGHIN2")]):
        extra = {} if cid == 1032 else {"visible": False}
        c.append(C(cid, "QRadioButton", name, text, (12, 22 + i * 25, 130, 22), "groupAnalogVideo", **extra))
    c.append(C(1037, "QCheckBox", "checkCameraLink", "Enable Camera Link", (xr, 202, 160, 22)))
    c.append(C(1080, "QGroupBox", "groupSpatialNr", "Spatial Noise Reduction", (xr, 228, 170, 56)))
    c.append(C(1083, "QCheckBox", "checkSpatialNr", "Enable", (12, 24, 100, 22), "groupSpatialNr"))
    c.append(C(1112, "QCheckBox", "checkAgcRoi", "Enable AGC ROI", (xr, 290, 160, 22)))
    c.append(btn(1053, "buttonLoadSequence", "Load Sequence File", (xr, 318, 160, 28)))
    c.append(btn(1027, "buttonDiagnostics", "Open Message Diagnostics Window", (xr, 352, 230, 28)))
    c.append(btn(1001, "buttonSearch", "Search for Connected Devices", (xr, 386, 230, 28)))
    c.append(C(1120, "QLabel", "labelStatusCaption", "Camera Communication Status: ", (xr, 420, 230, 22)))
    c.append(C(3021, "QGroupBox", "groupDocumentation", "Documentation", (xr, 448, 280, 86)))
    c.append(btn(3023, "buttonSoftwareGuide", "Camera Control Software Users' Guide", (10, 20, 260, 28),
                 "groupDocumentation"))
    c.append(btn(3024, "buttonCameraManual", "Camera Users' Manual", (10, 52, 260, 28), "groupDocumentation"))

    xl = 1250 + 240
    c.append(C(1091, "QLabel", "labelLensText1",
               "To performa a custom lens calibration, set up the camera to view a reference target.  Once the "
               "camera and target are configured, a 2-point lens characterization is perfomred.  ",
               (xl, 8, 300, 70), wordWrap=True))
    c.append(C(1092, "QLabel", "labelLensText2",
               "Lens correction coefficents are then calculated and saved in the camera (in one of 5 tables).  "
               "The correction coefficients are applied to video data, and a uniform output image is thus created.",
               (xl, 82, 300, 70), wordWrap=True))
    c.append(C(1093, "QLabel", "labelLensText3", 'To start calibration, click "Start Calibration" below.',
               (xl, 156, 300, 22), wordWrap=True))
    # The table radios form one group of their own.
    c.append(C(None, "QWidget", "lensTables", None, (xl, 182, 180, 136)))
    for i in range(5):
        c.append(C(1095 + i, "QRadioButton", f"radioLensTable{i + 1}", f"Table {i + 1} - Occupied",
                   (0, i * 26, 170, 22), "lensTables"))
    c.append(btn(1101, "buttonLensDownload", "Download to PC", (xl, 324, 140, 28), enabled=False))
    c.append(btn(1114, "buttonCollectCold", "Collect Cold", (xl, 358, 140, 28), enabled=False))
    c.append(btn(1115, "buttonCollectHot", "Collect Hot", (xl, 392, 140, 28), enabled=False))
    return c


def about_controls():
    return [
        C(1106, "QLabel", "panelBackground", "", px(7, 7, 302, 165),
          autoFillBackground=True, frameShape=("enum", "QFrame::NoFrame")),
        C(1026, "QLabel", "textVersion", "Kelvra, Version 1.0.4", px(101, 122, 114, 8),
          alignment=CENTER, textFormat=("enum", "Qt::PlainText")),
        C(1025, "QLabel", "textNotice", "", px(46, 141, 224, 8), alignment=CENTER),
        C(1, "QPushButton", "buttonOk", "OK", px(133, 181, 50, 14), default=True),
        C(1105, "QLabel", "imageBanner", None, (12, 11, 450, 174), scaledContents=False),
    ]


def diagnostics_controls():
    return [
        C(2024, "CDataList", "listLog", None, px(7, 6, 604, 205)),
        C(2017, "QLineEdit", "editMessage", "", px(6, 218, 522, 14)),
        # Wider than the dialog units give: the captions need more room in the usual Linux fonts.
        C(1040, "QCheckBox", "checkStartByte", "Prepend Start &Byte", (12, 388, 140, 16)),
        C(1041, "QCheckBox", "checkChecksum", "Postpend &Checksum", (160, 388, 146, 16)),
        C(1042, "QCheckBox", "checkWaitResponse", "Wait for Response", (314, 388, 140, 16), enabled=False),
        C(2018, "QPushButton", "buttonSend", "&Send Message", px(534, 218, 79, 14), default=True),
        C(1028, "QPushButton", "buttonDone", "Done", px(560, 243, 50, 14), autoDefault=False),
    ]


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "resources/ui")
    out.mkdir(parents=True, exist_ok=True)
    write_ui(out / "panel.ui", "PanelTemplate", "Kelvra", (1535, 538), panel_controls(), root_layout=True,
             custom=[("CWComboIconBox", "QComboBox", "shell/icon_combo.h")])
    write_ui(out / "about.ui", "AboutTemplate", "About Kelvra", (474, 328), about_controls())
    write_ui(out / "diagnostics.ui", "DiagnosticsTemplate", "Message Diagnostics", (927, 429),
             diagnostics_controls(), custom=[("CDataList", "QAbstractScrollArea", "diagnostics_ui/data_list.h")])


if __name__ == "__main__":
    main()
