#pragma once

#include "comnumbers.h"
#include "controlarray.h"
#include "windowlayout.h"

#include <functional>

class QAction;
class QFont;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class ResponseView;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QStatusBar;
class QTimer;
class QWidget;

/// The controls of the main window, by the names the handlers use. A control that a program
/// leaves out is null.
struct frmMainControls {
    QLabel* Label1 = nullptr;
    ControlArray<QLineEdit*, 0, 11> txtHEX;
    ControlArray<QPushButton*, 0, 1> btnSend;
    ControlArray<QPushButton*, 0, 2> btnClear;
    QLabel* Label2 = nullptr;
    QLineEdit* txtTextOut = nullptr;
    QLabel* Label3 = nullptr;
    ResponseView* txtResponse = nullptr;
    QPushButton* cmdGo = nullptr;
    QGroupBox* Frame2 = nullptr;
    ControlArray<QRadioButton*, 0, 2> functOption;
    QPushButton* cmdCal = nullptr;
    QPushButton* cmdDraw = nullptr;
    QGroupBox* Frame1 = nullptr;
    QLineEdit* TextR = nullptr;
    QLineEdit* TextG = nullptr;
    QLineEdit* TextB = nullptr;
    QLineEdit* TextCal = nullptr;
    QGroupBox* DrawBoxFrame = nullptr;
    QWidget* DrawBox = nullptr;
    QScrollBar* DrawSclBar = nullptr;
    QLabel* lblColor = nullptr;
    QPushButton* cmdClearDrawBox = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    ControlArray<QLabel*, 1, 3> StatusBar1Panels;
    QTimer* Timer1 = nullptr;
};

/// The menu tree of the main window.
struct frmMainMenus {
    QMenu* mnuSettings = nullptr;
    QMenu* mnuPort = nullptr;
    /// Com 1 to Com 4 from the design; further ports the system has while they are present
    /// (made when the Port menu opens).
    ControlArray<QAction*, 1, serial::kHighestPort> mnuCom;
    QMenu* mnuSpeed = nullptr;
    ControlArray<QAction*, 0, 12> mnuSpeedSel;
    QMenu* mnuDataB = nullptr;
    ControlArray<QAction*, 4, 8> mnuDataBSel;
    QMenu* mnuParity = nullptr;
    ControlArray<QAction*, 0, 4> mnuParitySel;
    QMenu* mnuStop = nullptr;
    ControlArray<QAction*, 0, 2> mnuStopSel;
    QAction* mnuConnect = nullptr;
    QMenu* mnuHelp = nullptr;
    ControlArray<QAction*, 0, 1> mnuHelpSel;
};

/// Makes the drawing surface of the plot; the plain program gets an empty surface.
using PictureBoxFactory = std::function<QWidget*(QWidget* parent)>;

/// The design's font, or the nearest sans-serif font of the same width where it is missing,
/// so that captions fit the fixed layout.
QFont designFont(const QString& family, int points);

/// The name a control answers to in the object tree: "TextR", "txtHEX(3)".
QString controlObjectName(const ControlRef& ref);

/// Creates every control of the design on the client area, in the design's order, with
/// its caption, initial text and place, and the tab order. Timers are children of client.
frmMainControls buildControls(QWidget* client, const WindowVariant& variant,
                              const PictureBoxFactory& makePictureBox);

/// Creates the menu tree with its captions and start-up check marks. A line-setting item
/// carries its settings fragment as its data.
frmMainMenus buildMenus(QMenuBar* menuBar, const WindowVariant& variant);
