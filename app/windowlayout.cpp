#include "windowlayout.h"

#include <QStringList>

#include <algorithm>

namespace {

ControlDesign control(const QString& name, int index, ControlKind kind, const QString& container,
                      const QString& text, TwipsRect rect) {
    ControlDesign row;
    row.ref = {name, index};
    row.kind = kind;
    row.container = container;
    row.text = text;
    row.rect = rect;
    return row;
}

ControlDesign control(const QString& name, ControlKind kind, const QString& container,
                      const QString& text, TwipsRect rect) {
    return control(name, -1, kind, container, text, rect);
}

std::vector<ControlDesign> zelConnectControls() {
    using K = ControlKind;
    const QString window;
    std::vector<ControlDesign> rows;
    rows.push_back(control("Label1", K::Label, window, "HEX:", {120, 120, 615, 255}));
    for (int i = 0; i <= 11; ++i) {
        rows.push_back(
            control("txtHEX", i, K::TextField, window, "Text1", {960 + 480 * i, 120, 375, 285}));
    }
    rows.push_back(control("btnSend", 0, K::Button, window, "Send", {6720, 120, 615, 285}));
    rows.push_back(control("btnClear", 0, K::Button, window, "Clear", {7440, 120, 615, 285}));
    rows.push_back(control("Label2", K::Label, window, "TEXT:", {120, 480, 615, 255}));
    rows.push_back(control("txtTextOut", K::TextField, window, "Text1", {960, 480, 5655, 285}));
    rows.push_back(control("btnSend", 1, K::Button, window, "Send", {6720, 480, 615, 285}));
    rows.push_back(control("btnClear", 1, K::Button, window, "Clear", {7440, 480, 615, 285}));
    rows.push_back(control("Label3", K::Label, window, "Response:", {120, 840, 855, 255}));
    rows.push_back(control("txtResponse", K::MultiLineText, window, "", {960, 840, 5655, 2445}));
    rows.push_back(control("btnClear", 2, K::Button, window, "Clear", {7440, 840, 615, 285}));
    rows.push_back(control("cmdGo", K::Button, window, "RndGo", {120, 1440, 735, 375}));
    rows.push_back(control("Frame2", K::Frame, window, "FunctionSelect", {6720, 1680, 1455, 2295}));
    rows.push_back(
        control("functOption", 0, K::OptionButton, "Frame2", "Avgerage", {120, 360, 1095, 255}));
    rows.push_back(
        control("functOption", 1, K::OptionButton, "Frame2", "TotalDiff", {120, 720, 975, 255}));
    rows.push_back(
        control("functOption", 2, K::OptionButton, "Frame2", "Recognize", {120, 960, 1215, 495}));
    rows.push_back(control("cmdCal", K::Button, window, "cal", {120, 1920, 735, 375}));
    rows.push_back(control("cmdDraw", K::Button, window, "Draw", {120, 2400, 735, 375}));
    rows.push_back(control("Frame1", K::Frame, window, "Captured Data", {960, 3360, 3615, 615}));
    rows.push_back(control("TextR", K::TextField, "Frame1", "R", {240, 240, 1095, 285}));
    rows.push_back(control("TextG", K::TextField, "Frame1", "G", {1440, 240, 975, 285}));
    rows.push_back(control("TextB", K::TextField, "Frame1", "B", {2520, 240, 975, 285}));
    rows.push_back(control("TextCal", K::TextField, window, "Text1", {4800, 3600, 1575, 285}));
    rows.push_back(
        control("DrawBoxFrame", K::BareFrame, window, "Frame3", {3600, 4080, 4575, 3255}));
    rows.push_back(control("DrawBox", K::PictureBox, "DrawBoxFrame", "", {0, 120, 4575, 2775}));
    ControlDesign scrollBar =
        control("DrawSclBar", K::ScrollBar, "DrawBoxFrame", "", {0, 2880, 4575, 255});
    // The value is a share of the way along the box, in tenths of a percent; the page step
    // starts where "Clear Draw" puts it, one below the maximum.
    scrollBar.scroll = {0, 1000, 999, 10, 0};
    rows.push_back(scrollBar);
    ControlDesign colorLabel =
        control("lblColor", K::Label, window, "Recognizing...", {240, 4200, 3135, 1935});
    colorLabel.fontFamily = "MS Sans Serif";
    colorLabel.fontPoints = 24;
    rows.push_back(colorLabel);
    rows.push_back(
        control("cmdClearDrawBox", K::Button, window, "Clear Draw", {2160, 6600, 1095, 375}));
    rows.push_back(control("StatusBar1", K::StatusBar, window, "", {0, 7110, 8235, 255}));
    ControlDesign timer = control("Timer1", K::Timer, window, "", {});
    timer.timerInterval = 1000;
    rows.push_back(timer);
    return rows;
}

struct Spoken {
    ControlRef ref;
    QString name;
    QString description;
};

// What a screen reader says for each control. Captions that say what a control is stay its
// name; where a caption is the same for several controls ("Send", "Clear") or says little
// ("RndGo", "cal"), the description tells.
std::vector<Spoken> zelConnectSpokenNames() {
    std::vector<Spoken> spoken;
    for (int i = 0; i <= 11; ++i) {
        spoken.push_back({{"txtHEX", i}, QStringLiteral("Hex byte %1").arg(i + 1), {}});
    }
    spoken.insert(
        spoken.end(),
        {{{"btnSend", 0}, {}, "Send the hex bytes"},
         {{"btnClear", 0}, {}, "Clear the hex bytes"},
         {{"txtTextOut"}, "Text to send", {}},
         {{"btnSend", 1}, {}, "Send the text"},
         {{"btnClear", 1}, {}, "Clear the text to send"},
         {{"txtResponse"}, "Device answers", "What the device sent, line by line"},
         {{"btnClear", 2}, {}, "Clear the device answers"},
         {{"cmdGo"}, {}, "Start or stop a test run of random samples, one a second"},
         {{"Frame2"}, {}, "How each sample is evaluated"},
         {{"cmdCal"}, {}, "Evaluate and plot the readings shown"},
         {{"cmdDraw"}, {}, "Plot the result shown"},
         {{"TextR"}, "Red reading", {}},
         {{"TextG"}, "Green reading", {}},
         {{"TextB"}, "Blue reading", {}},
         {{"TextCal"}, "Result", "The method value of the last sample"},
         {{"DrawBoxFrame"}, "Sample chart", {}},
         {{"DrawBox"}, "Chart", "The method value of each sample; the arrow keys scroll it"},
         {{"DrawSclBar"}, "Chart position", "Scrolls the sample chart"},
         {{"lblColor"}, {}, "Recognized color"},
         {{"cmdClearDrawBox"}, {}, "Empty the chart"},
         {{"StatusBar1"}, "Status", {}}});
    return spoken;
}

void addSpokenNames(std::vector<ControlDesign>& rows) {
    for (const Spoken& spoken : zelConnectSpokenNames()) {
        const auto row = std::find_if(rows.begin(), rows.end(), [&spoken](const ControlDesign& r) {
            return r.ref == spoken.ref;
        });
        Q_ASSERT_X(row != rows.end(), "addSpokenNames", "a spoken name names a control");
        if (row != rows.end()) {
            row->spokenName = spoken.name;
            row->spokenDescription = spoken.description;
        }
    }
}

std::vector<MenuItemDesign> zelConnectMenus() {
    std::vector<MenuItemDesign> items;
    const auto add = [&items](const QString& name, int index, const QString& caption,
                              const QString& parent) {
        MenuItemDesign item;
        item.ref = {name, index};
        item.caption = caption;
        item.parent = parent;
        items.push_back(item);
    };
    // The port and line-setting items carry check marks that their handlers move.
    const auto addSetting = [&items](const QString& name, int index, const QString& caption,
                                     const QString& parent, bool checked,
                                     const QString& fragment = {}) {
        items.push_back({{name, index}, caption, parent, true, checked, fragment});
    };
    add("mnuSettings", -1, "&Settings", "");
    add("mnuPort", -1, "&Port", "mnuSettings");
    for (int port = 1; port <= 4; ++port) {
        addSetting("mnuCom", port, QStringLiteral("Com &%1").arg(port), "mnuPort", port == 1);
    }
    add("mnuSpeed", -1, "&Speed", "mnuSettings");
    const QStringList speedCaptions = {"11&0",   "&300",    "&600",   "&1,200", "&2,400",
                                       "&9,600", "14,400",  "19,200", "28,800", "3&8,400",
                                       "56,000", "128,000", "256,000"};
    const QStringList speeds = {"110",   "300",   "600",   "1200",  "2400",   "9600",  "14400",
                                "19200", "28800", "38400", "56000", "128000", "256000"};
    for (int i = 0; i < speeds.size(); ++i) {
        addSetting("mnuSpeedSel", i, speedCaptions[i], "mnuSpeed", i == 5, speeds[i] + ",,,");
    }
    add("mnuDataB", -1, "&Data Bits", "mnuSettings");
    for (int bits = 4; bits <= 8; ++bits) {
        addSetting("mnuDataBSel", bits, QStringLiteral("&%1").arg(bits), "mnuDataB", bits == 8,
                   QStringLiteral(",,%1,").arg(bits));
    }
    add("mnuParity", -1, "&Parity", "mnuSettings");
    const QStringList parities = {"&Even", "&Mark", "&None", "&Odd", "&Space"};
    for (int i = 0; i < parities.size(); ++i) {
        const QChar letter = parities[i].at(1);
        addSetting("mnuParitySel", i, parities[i], "mnuParity", i == 2,
                   QStringLiteral(",%1,,").arg(letter));
    }
    add("mnuStop", -1, "&Stop Bits", "mnuSettings");
    addSetting("mnuStopSel", 0, "&1", "mnuStop", true, ",,,1");
    addSetting("mnuStopSel", 1, "1.&5", "mnuStop", false, ",,,1.5");
    addSetting("mnuStopSel", 2, "&2", "mnuStop", false, ",,,2");
    add("mnuConnect", -1, "&Connect", "");
    add("mnuHelp", -1, "&Help", "");
    add("mnuHelpSel", 0, "&Basic Help", "mnuHelp");
    add("mnuHelpSel", 1, "&About", "mnuHelp");
    return items;
}

std::vector<ControlRef> zelConnectTabOrder() {
    std::vector<ControlRef> order;
    for (int i = 0; i <= 11; ++i) {
        order.push_back({"txtHEX", i});
    }
    order.insert(order.end(),
                 {{"btnSend", 0},     {"txtTextOut"},     {"btnSend", 1},  {"txtResponse"},
                  {"btnClear", 0},    {"btnClear", 1},    {"btnClear", 2}, {"TextR"},
                  {"TextG"},          {"TextB"},          {"TextCal"},     {"functOption", 0},
                  {"functOption", 1}, {"functOption", 2}, {"DrawSclBar"},  {"DrawBox"},
                  {"cmdGo"},          {"cmdCal"},         {"cmdDraw"},     {"cmdClearDrawBox"}});
    return order;
}

} // namespace

WindowVariant zelConnectVariant() {
    WindowVariant variant;
    variant.caption = "Zel Connect";
    variant.applicationTitle = "Zel_Connect beta";
    variant.iconResource = ":/icons/zel-connect";
    variant.clientWidthTwips = 8235;
    variant.clientHeightTwips = 7365;
    variant.controls = zelConnectControls();
    addSpokenNames(variant.controls);
    variant.statusPanels = {{"Connected", 1240, "Connection"},
                            {"com1", 720, "Port"},
                            {"9600 8N1", 1280, "Line settings"}};
    variant.menus = zelConnectMenus();
    variant.tabOrder = zelConnectTabOrder();
    variant.startMethod = 2;
    variant.aboutText = QStringLiteral("Zel_Connect Version %1").arg(ZEL_VERSION);
    return variant;
}

WindowVariant withDifferences(WindowVariant base, const WindowDifferences& differences) {
    const auto isLeftOut = [&differences](const ControlRef& ref) {
        return std::find(differences.leftOut.begin(), differences.leftOut.end(), ref.name) !=
               differences.leftOut.end();
    };
    std::erase_if(base.controls, [&](const ControlDesign& row) { return isLeftOut(row.ref); });
    std::erase_if(base.tabOrder, isLeftOut);
    for (const ControlChange& change : differences.changes) {
        auto found =
            std::find_if(base.controls.begin(), base.controls.end(),
                         [&change](const ControlDesign& row) { return row.ref == change.ref; });
        Q_ASSERT_X(found != base.controls.end(), "withDifferences", "a change names a control");
        if (found == base.controls.end()) {
            continue;
        }
        if (change.rect) {
            found->rect = *change.rect;
        }
        if (change.text) {
            found->text = *change.text;
        }
    }
    base.caption = differences.caption;
    base.applicationTitle = differences.applicationTitle;
    base.iconResource = differences.iconResource;
    base.clientHeightTwips = differences.clientHeightTwips;
    base.startMethod = differences.startMethod;
    base.aboutText = differences.aboutText;
    base.enterEmptiesTextLine = differences.enterEmptiesTextLine;
    return base;
}
