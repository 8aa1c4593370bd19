#pragma once

#include "twips.h"

#include <QString>

#include <optional>
#include <vector>

/// The kinds of control the window is built from.
enum class ControlKind {
    Label,
    TextField,     ///< single line
    MultiLineText, ///< multi-line with a vertical scroll bar
    Button,
    Frame,     ///< captioned group box
    BareFrame, ///< keeps a caption but draws neither border nor caption; clips its children
    OptionButton,
    PictureBox,
    ScrollBar, ///< horizontal
    StatusBar,
    Timer, ///< invisible
};

/// One control of the window: the name and index the program knows it by.
struct ControlRef {
    QString name;
    int index = -1; ///< -1 for a control that is not part of an array

    friend bool operator==(const ControlRef&, const ControlRef&) = default;
};

/// Minimum, maximum, page step and value of a scroll bar.
struct ScrollRange {
    int minimum = 0;
    int maximum = 100;
    int pageStep = 10;
    int singleStep = 1;
    int value = 0;
};

/// One row of the window's design.
struct ControlDesign {
    ControlRef ref;
    ControlKind kind = ControlKind::Label;
    QString container; ///< empty: the window itself
    QString text;      ///< caption or initial text
    TwipsRect rect;
    QString fontFamily; ///< empty: the system font
    int fontPoints = 0;
    int timerInterval = 0; ///< milliseconds, timers only
    ScrollRange scroll;    ///< scroll bars only
    /// What a screen reader calls the control; empty: its caption or text, as shown.
    QString spokenName;
    /// What a screen reader adds to the name, where the name alone does not say what the
    /// control does or tells two controls apart.
    QString spokenDescription;
};

/// One panel of the status bar, numbered from 1.
struct StatusPanelDesign {
    QString designText;
    int widthTwips = 0;
    /// What the panel tells, for a screen reader; its name is what it shows, so that a
    /// change is heard as the new text.
    QString spokenDescription;
};

/// One item of the menu tree. An item with children opens a menu; a leaf is a command.
struct MenuItemDesign {
    ControlRef ref;
    QString caption;
    QString parent;         ///< empty: the menu bar
    bool checkable = false; ///< shows a check mark when checked
    bool checkedAtStart = false;
    QString fragment; ///< settings fragment of the line-setting items
};

/// Everything that makes the window of one program: the design of controls and menus and
/// the few behaviours in which the programs differ.
struct WindowVariant {
    QString caption;
    QString applicationTitle; ///< title of boxes that have none of their own
    QString iconResource;     ///< a folder of one image per size; empty: no icon of its own
    int clientWidthTwips = 0;
    int clientHeightTwips = 0;
    std::vector<ControlDesign> controls; ///< containers before what they hold
    std::vector<StatusPanelDesign> statusPanels;
    std::vector<MenuItemDesign> menus;
    std::vector<ControlRef> tabOrder;
    int startMethod = 2; ///< functOption selected when the window loads
    QString aboutText;
    bool enterEmptiesTextLine = true; ///< Enter in the text line sends, then empties it
};

/// The window of Zel_Connect.
WindowVariant zelConnectVariant();

/// A control whose place or caption differs in another program's window.
struct ControlChange {
    ControlRef ref;
    std::optional<TwipsRect> rect;
    std::optional<QString> text;
};

/// How another program's window differs from a given one; whatever is not named stays.
struct WindowDifferences {
    QString caption;
    QString applicationTitle;
    QString iconResource; ///< a folder of one image per size; empty: no icon of its own
    int clientHeightTwips = 0;
    std::vector<QString> leftOut; ///< controls the program does not have
    std::vector<ControlChange> changes;
    int startMethod = 0;
    QString aboutText;
    bool enterEmptiesTextLine = true;
};

/// The base window with the differences applied; controls left out leave the tab order too.
WindowVariant withDifferences(WindowVariant base, const WindowDifferences& differences);
