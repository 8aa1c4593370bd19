#include "windowcontrols.h"

#include "focusframe.h"
#include "responseview.h"

#include <QAction>
#include <QFont>
#include <QGroupBox>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <qdrawutil.h>

#include <algorithm>

namespace {

// A frame with its caption on the border line, as the design places the fields inside it:
// styles that put the caption above the line would let it run into them.
class CaptionFrame : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QFontMetrics metrics = fontMetrics();
        // An etched line, the classic look of a frame.
        qDrawShadeRect(&painter, rect().adjusted(0, metrics.height() / 2, 0, 0), palette(), true);
        if (!title().isEmpty()) {
            const QRect caption(6, 0, metrics.horizontalAdvance(title()) + 4, metrics.height());
            painter.fillRect(caption, palette().window());
            style()->drawItemText(&painter, caption, Qt::AlignCenter, palette(), isEnabled(),
                                  title(), QPalette::WindowText);
        }
    }
};

// A frame that only clips what it holds: the plot box fills it, so a border and caption
// would only cover the chart.
class BareFrame : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent*) override {}
};

// A scroll bar that shows when it has the focus, which the styles' own do not: the chart's
// bar is reached with Tab and moved with the arrow keys.
class FocusScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        // Qt's horizontal scroll bar takes Left as a step towards the end; Left goes left.
        const int key = event->key();
        if (orientation() == Qt::Horizontal && (key == Qt::Key_Left || key == Qt::Key_Right)) {
            const bool towardsStart = (key == Qt::Key_Left) != isRightToLeft();
            triggerAction(towardsStart ? SliderSingleStepSub : SliderSingleStepAdd);
            event->accept();
            return;
        }
        QScrollBar::keyPressEvent(event);
    }

    void paintEvent(QPaintEvent* event) override {
        QScrollBar::paintEvent(event);
        if (hasFocus()) {
            QPainter painter(this);
            drawFocusFrame(painter, *this);
        }
    }
};

QWidget* makeEmptyPictureBox(QWidget* parent) {
    auto* box = new QWidget(parent);
    box->setBackgroundRole(QPalette::Base);
    box->setAutoFillBackground(true);
    return box;
}

QObject* createControl(const ControlDesign& control, QWidget* container, QWidget* client,
                       const PictureBoxFactory& makePictureBox) {
    switch (control.kind) {
    case ControlKind::Label: {
        auto* label = new QLabel(control.text, container);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        return label;
    }
    case ControlKind::TextField:
        return new QLineEdit(control.text, container);
    case ControlKind::MultiLineText: {
        auto* text = new ResponseView(container);
        text->append(control.text);
        return text;
    }
    case ControlKind::Button:
        return new QPushButton(control.text, container);
    case ControlKind::Frame:
        return new CaptionFrame(control.text, container);
    case ControlKind::BareFrame:
        return new BareFrame(control.text, container);
    case ControlKind::OptionButton:
        return new QRadioButton(control.text, container);
    case ControlKind::PictureBox: {
        QWidget* box = makePictureBox ? makePictureBox(container) : makeEmptyPictureBox(container);
        box->setFocusPolicy(Qt::StrongFocus);
        return box;
    }
    case ControlKind::ScrollBar: {
        auto* bar = new FocusScrollBar(Qt::Horizontal, container);
        bar->setFocusPolicy(Qt::StrongFocus);
        bar->setRange(control.scroll.minimum, control.scroll.maximum);
        bar->setPageStep(control.scroll.pageStep);
        bar->setSingleStep(control.scroll.singleStep);
        bar->setValue(control.scroll.value);
        return bar;
    }
    case ControlKind::StatusBar: {
        auto* bar = new QStatusBar(container);
        bar->setSizeGripEnabled(false);
        return bar;
    }
    case ControlKind::Timer: {
        auto* timer = new QTimer(client);
        timer->setInterval(control.timerInterval);
        return timer;
    }
    }
    return nullptr;
}

template <typename T> T* take(const QHash<QString, QObject*>& built, const ControlRef& ref) {
    QObject* object = built.value(controlObjectName(ref));
    T* control = qobject_cast<T*>(object);
    Q_ASSERT(object == nullptr || control != nullptr);
    return control;
}

template <typename T, int First, int Last>
void takeArray(ControlArray<T*, First, Last>& array, const QHash<QString, QObject*>& built,
               const QString& name) {
    for (int i = First; i <= Last; ++i) {
        array[i] = take<T>(built, {name, i});
    }
}

void addStatusPanels(frmMainControls& controls, const WindowVariant& variant) {
    if (!controls.StatusBar1) {
        return;
    }
    int number = 1;
    for (const StatusPanelDesign& panel : variant.statusPanels) {
        if (!decltype(controls.StatusBar1Panels)::contains(number)) {
            break;
        }
        auto* label = new QLabel(panel.designText, controls.StatusBar1);
        label->setObjectName(QStringLiteral("StatusBar1.Panel%1").arg(number));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setFixedWidth(twipsToPixels(panel.widthTwips));
        label->setAccessibleDescription(panel.spokenDescription);
        controls.StatusBar1->addWidget(label);
        controls.StatusBar1Panels[number] = label;
        ++number;
    }
}

void setTabOrder(const QHash<QString, QObject*>& built, const WindowVariant& variant) {
    QWidget* previous = nullptr;
    for (const ControlRef& ref : variant.tabOrder) {
        auto* widget = qobject_cast<QWidget*>(built.value(controlObjectName(ref)));
        if (!widget) {
            continue; // left out of this program
        }
        if (previous) {
            QWidget::setTabOrder(previous, widget);
        }
        previous = widget;
    }
}

} // namespace

QFont designFont(const QString& family, int points) {
    QFont font;
    font.setFamilies({family, QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
                      QStringLiteral("Helvetica")});
    font.setPointSize(points);
    return font;
}

QString controlObjectName(const ControlRef& ref) {
    return ref.index < 0 ? ref.name : QStringLiteral("%1(%2)").arg(ref.name).arg(ref.index);
}

frmMainControls buildControls(QWidget* client, const WindowVariant& variant,
                              const PictureBoxFactory& makePictureBox) {
    QHash<QString, QObject*> built;
    for (const ControlDesign& control : variant.controls) {
        QWidget* container = client;
        if (!control.container.isEmpty()) {
            container = qobject_cast<QWidget*>(built.value(control.container));
            Q_ASSERT_X(container, "buildControls", "a container comes before what it holds");
        }
        QObject* object = createControl(control, container, client, makePictureBox);
        object->setObjectName(controlObjectName(control.ref));
        if (auto* widget = qobject_cast<QWidget*>(object)) {
            widget->setGeometry(toPixels(control.rect));
            if (!control.spokenName.isEmpty()) {
                widget->setAccessibleName(control.spokenName);
            }
            widget->setAccessibleDescription(control.spokenDescription);
            if (!control.fontFamily.isEmpty()) {
                widget->setFont(designFont(control.fontFamily, control.fontPoints));
            }
        }
        built.insert(object->objectName(), object);
    }

    frmMainControls c;
    c.Label1 = take<QLabel>(built, {"Label1"});
    takeArray(c.txtHEX, built, "txtHEX");
    takeArray(c.btnSend, built, "btnSend");
    takeArray(c.btnClear, built, "btnClear");
    c.Label2 = take<QLabel>(built, {"Label2"});
    c.txtTextOut = take<QLineEdit>(built, {"txtTextOut"});
    c.Label3 = take<QLabel>(built, {"Label3"});
    c.txtResponse = take<ResponseView>(built, {"txtResponse"});
    c.cmdGo = take<QPushButton>(built, {"cmdGo"});
    c.Frame2 = take<QGroupBox>(built, {"Frame2"});
    takeArray(c.functOption, built, "functOption");
    c.cmdCal = take<QPushButton>(built, {"cmdCal"});
    c.cmdDraw = take<QPushButton>(built, {"cmdDraw"});
    c.Frame1 = take<QGroupBox>(built, {"Frame1"});
    c.TextR = take<QLineEdit>(built, {"TextR"});
    c.TextG = take<QLineEdit>(built, {"TextG"});
    c.TextB = take<QLineEdit>(built, {"TextB"});
    c.TextCal = take<QLineEdit>(built, {"TextCal"});
    c.DrawBoxFrame = take<QGroupBox>(built, {"DrawBoxFrame"});
    c.DrawBox = take<QWidget>(built, {"DrawBox"});
    c.DrawSclBar = take<QScrollBar>(built, {"DrawSclBar"});
    c.lblColor = take<QLabel>(built, {"lblColor"});
    c.cmdClearDrawBox = take<QPushButton>(built, {"cmdClearDrawBox"});
    c.StatusBar1 = take<QStatusBar>(built, {"StatusBar1"});
    c.Timer1 = take<QTimer>(built, {"Timer1"});
    addStatusPanels(c, variant);
    setTabOrder(built, variant);
    return c;
}

namespace {

template <int First, int Last>
void takeActions(ControlArray<QAction*, First, Last>& array, const QHash<QString, QObject*>& built,
                 const QString& name) {
    for (int i = First; i <= Last; ++i) {
        array[i] = qobject_cast<QAction*>(built.value(controlObjectName({name, i})));
    }
}

} // namespace

frmMainMenus buildMenus(QMenuBar* menuBar, const WindowVariant& variant) {
    const auto hasChildren = [&variant](const QString& name) {
        return std::any_of(variant.menus.begin(), variant.menus.end(),
                           [&name](const MenuItemDesign& item) { return item.parent == name; });
    };
    QHash<QString, QObject*> built;
    for (const MenuItemDesign& item : variant.menus) {
        const QString name = controlObjectName(item.ref);
        QMenu* parentMenu =
            item.parent.isEmpty() ? nullptr : qobject_cast<QMenu*>(built.value(item.parent));
        Q_ASSERT_X(item.parent.isEmpty() || parentMenu, "buildMenus",
                   "a menu comes before its items");
        if (hasChildren(item.ref.name)) {
            QMenu* menu =
                parentMenu ? parentMenu->addMenu(item.caption) : menuBar->addMenu(item.caption);
            menu->setObjectName(name);
            menu->menuAction()->setObjectName(name + QStringLiteral(".item"));
            built.insert(name, menu);
            continue;
        }
        QAction* action =
            parentMenu ? parentMenu->addAction(item.caption) : menuBar->addAction(item.caption);
        action->setObjectName(name);
        action->setCheckable(item.checkable);
        action->setChecked(item.checkedAtStart);
        if (!item.fragment.isEmpty()) {
            action->setData(item.fragment);
        }
        built.insert(name, action);
    }

    frmMainMenus m;
    const auto menu = [&built](const QString& name) {
        return qobject_cast<QMenu*>(built.value(name));
    };
    m.mnuSettings = menu("mnuSettings");
    m.mnuPort = menu("mnuPort");
    takeActions(m.mnuCom, built, "mnuCom");
    m.mnuSpeed = menu("mnuSpeed");
    takeActions(m.mnuSpeedSel, built, "mnuSpeedSel");
    m.mnuDataB = menu("mnuDataB");
    takeActions(m.mnuDataBSel, built, "mnuDataBSel");
    m.mnuParity = menu("mnuParity");
    takeActions(m.mnuParitySel, built, "mnuParitySel");
    m.mnuStop = menu("mnuStop");
    takeActions(m.mnuStopSel, built, "mnuStopSel");
    m.mnuConnect = qobject_cast<QAction*>(built.value("mnuConnect"));
    m.mnuHelp = menu("mnuHelp");
    takeActions(m.mnuHelpSel, built, "mnuHelpSel");
    return m;
}
