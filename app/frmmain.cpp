#include "frmmain.h"

#include "responseview.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace {

const QString kBasicHelp =
    QStringLiteral("Basic Communications Program what you see is what you get.");

// Qt ticks a checkable item before it reports the click; on this window only the handlers
// move check marks, so the tick is taken back first.
template <typename Handler>
void connectMenuItem(frmMain* window, QAction* action, int index, Handler handler) {
    QObject::connect(action, &QAction::triggered, window, [=](bool checked) {
        if (action->isCheckable()) {
            action->setChecked(!checked);
        }
        (window->*handler)(static_cast<qint16>(index));
    });
}

template <int First, int Last, typename Handler>
void connectMenuArray(frmMain* window, ControlArray<QAction*, First, Last>& items,
                      Handler handler) {
    for (int i = First; i <= Last; ++i) {
        if (QAction* action = items[i]) {
            connectMenuItem(window, action, i, handler);
        }
    }
}

} // namespace

frmMain::frmMain(WindowVariant variant, const PictureBoxFactory& makePictureBox, QWidget* parent)
    : QMainWindow(parent), m_variant(std::move(variant)) {
    setWindowTitle(m_variant.caption);
    // Frames draw their caption on the border line, so the design's places for the fields
    // inside them stay clear of it.
    setFont(designFont(QStringLiteral("MS Sans Serif"), 8));
    if (!m_variant.iconResource.isEmpty()) {
        QIcon icon;
        for (const QFileInfo& image : QDir(m_variant.iconResource).entryInfoList(QDir::Files)) {
            icon.addFile(image.filePath()); // at the size the image has
        }
        setWindowIcon(icon);
    }

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("frmMain.client"));
    client->setFixedSize(twipsToPixels(m_variant.clientWidthTwips),
                         twipsToPixels(m_variant.clientHeightTwips));
    setCentralWidget(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    m_controls = buildControls(client, m_variant, makePictureBox);
    m_menus = buildMenus(menuBar(), m_variant);
    m_frame = new QTimer(this);
    m_frame->setSingleShot(true);
    m_frame->setInterval(kFrameMs);
    connect(m_frame, &QTimer::timeout, this, &frmMain::showFrame);
    connectHandlers();

    Form_Load();
    if (QLineEdit* first = m_controls.txtHEX[0]) {
        first->setFocus();
    }
}

frmMain::~frmMain() = default;

void frmMain::setMessagePresenter(MessagePresenter presenter) {
    m_presentMessage = std::move(presenter);
}

void frmMain::setNoticePresenter(NoticePresenter presenter) {
    m_presentNotice = std::move(presenter);
}

void frmMain::Notice(const MessageBoxRequest& request) {
    m_presentNotice(this, request);
}

void frmMain::connectComItem(QAction* item, int port) {
    connectMenuItem(this, item, port, &frmMain::mnuCom_Click);
}

void frmMain::connectHandlers() {
    for (int i = 0; i <= 2; ++i) {
        if (QPushButton* button = m_controls.btnClear[i]) {
            connect(button, &QPushButton::clicked, this,
                    [this, i] { btnClear_Click(static_cast<qint16>(i)); });
        }
    }
    connectMenuArray(this, m_menus.mnuCom, &frmMain::mnuCom_Click);
    connectMenuArray(this, m_menus.mnuSpeedSel, &frmMain::mnuSpeedSel_Click);
    connectMenuArray(this, m_menus.mnuDataBSel, &frmMain::mnuDataBSel_Click);
    connectMenuArray(this, m_menus.mnuParitySel, &frmMain::mnuParitySel_Click);
    connectMenuArray(this, m_menus.mnuStopSel, &frmMain::mnuStopSel_Click);
    connectMenuArray(this, m_menus.mnuHelpSel, &frmMain::mnuHelpSel_Click);
    if (m_menus.mnuConnect) {
        connect(m_menus.mnuConnect, &QAction::triggered, this, &frmMain::mnuConnect_Click);
    }
    for (int i = 0; i <= 1; ++i) {
        if (QPushButton* button = m_controls.btnSend[i]) {
            connect(button, &QPushButton::clicked, this,
                    [this, i] { btnSend_Click(static_cast<qint16>(i)); });
        }
    }
    for (QLineEdit* field : m_controls.txtHEX) {
        if (field) {
            field->installEventFilter(this);
        }
    }
    if (m_controls.txtTextOut) {
        m_controls.txtTextOut->installEventFilter(this);
    }
    for (QPushButton* button : centralWidget()->findChildren<QPushButton*>()) {
        button->installEventFilter(this); // Enter clicks it
    }
    menuBar()->installEventFilter(this);
    for (QLineEdit* field :
         {m_controls.TextR, m_controls.TextG, m_controls.TextB, m_controls.TextCal}) {
        if (field) {
            field->installEventFilter(this);
        }
    }
    connect(&MSComm1, &MSComm::OnComm, this, &frmMain::MSComm1_OnComm);
    connect(&MSComm1, &MSComm::PortLost, this, &frmMain::MSComm1_PortLost);
    connect(&MSComm1, &MSComm::StreamEnded, this, &frmMain::MSComm1_StreamEnded);
    connect(&MSComm1, &MSComm::SendFailed, this, &frmMain::reportSendFailure);
    connect(&MSComm1, &MSComm::Reconnected, this, &frmMain::UpdateStatus);
    connect(&MSComm1, &MSComm::OpenFailed, this, [this](const CommError& error) {
        UpdateStatus();
        reportPortNotAvailable(MSComm1.CommPort(), error);
    });
    connect(&MSComm1, &MSComm::WaitingChanged, this, &frmMain::UpdateStatus);
    if (m_menus.mnuPort) {
        m_menus.mnuPort->setToolTipsVisible(true);
        connect(m_menus.mnuPort, &QMenu::aboutToShow, this, &frmMain::showPortDevices);
    }
    if (QLabel* panel = m_controls.StatusBar1Panels[2]) {
        panel->installEventFilter(this);
    }
    connect(&MSComm1, &MSComm::InputDropped, this, [this](qint64 count) {
        Notice({QStringLiteral("While a message box was open, Com%1 sent more than could be "
                               "kept: the oldest %2 bytes of it were dropped.")
                    .arg(MSComm1.CommPort())
                    .arg(count),
                m_variant.applicationTitle, MessageButtons::OkOnly, MessageIcon::Warning});
    });
}

void frmMain::MsgBox(const MessageBoxRequest& request) {
    if (m_closeRequested) {
        return; // the program is ending: nobody is there to answer
    }
    MSComm1.holdEvents();
    ++m_boxesOpen;
    m_presentMessage(this, request);
    --m_boxesOpen;
    MSComm1.releaseEvents();
    if (m_boxesOpen == 0) {
        emit boxClosed();
        closeWhenIdle();
    }
}

void frmMain::closeOnRequest() {
    if (std::exchange(m_closeRequested, true)) {
        return;
    }
    if (m_boxesOpen > 0) {
        for (QMessageBox* box : findChildren<QMessageBox*>()) {
            if (box->isModal() && box->isVisible()) {
                box->reject();
            }
        }
    }
    closeWhenIdle();
}

void frmMain::closeWhenIdle() {
    if (!m_closeRequested || m_boxesOpen > 0 || m_closingPort) {
        return; // called again when the box or the port is done
    }
    // Once the handler that waited has returned, as a click on the window's close button.
    QTimer::singleShot(0, this, [this] {
        if (isVisible()) {
            close();
        }
    });
}

void frmMain::Form_Load() {
    btnClear_Click(0);
    btnClear_Click(1);
    btnClear_Click(2);
    if (QRadioButton* method = m_controls.functOption[m_variant.startMethod]) {
        method->setChecked(true);
    }
    UpdateStatus();
}

void frmMain::Form_Unload(qint16& cancel) {
    Q_UNUSED(cancel); // the window always closes
    if (MSComm1.PortOpen()) {
        // A failure to close must not keep the window open; there is nothing to ask.
        m_unloading = true;
        closePort();
        m_unloading = false;
    }
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (m_closingPort) {
        // The port is closing with bytes still going out: the window follows it.
        m_closeAfterPort = true;
        event->ignore();
        return;
    }
    qint16 cancel = 0;
    Form_Unload(cancel);
    if (cancel != 0) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void frmMain::btnClear_Click(qint16 index) {
    switch (index) {
    case 0:
        for (QLineEdit* field : m_controls.txtHEX) {
            if (field) {
                field->setText(QString());
            }
        }
        break;
    case 1:
        if (m_controls.txtTextOut) {
            m_controls.txtTextOut->setText(QString());
        }
        break;
    case 2:
        if (m_controls.txtResponse) {
            m_controls.txtResponse->clear();
            requestFrame();
        }
        m_responseText.reset();
        break;
    default:
        break;
    }
}

void frmMain::mnuHelpSel_Click(qint16 index) {
    switch (index) {
    case 0:
        MsgBox(
            {kBasicHelp, QStringLiteral("Help"), MessageButtons::OkOnly, MessageIcon::Information});
        break;
    case 1:
        MsgBox({m_variant.aboutText, QStringLiteral("Help About"), MessageButtons::OkOnly,
                MessageIcon::None});
        break;
    default:
        break;
    }
}
