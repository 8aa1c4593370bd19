// A window of one of the programs driven from standard input, through the controls a user
// works, printing what the user would see: for the suite that runs the Windows build under
// Wine, where no display is there to click in. One command a line:
//   connect                       Connect (or Disconnect) from the menu bar
//   text <line>                   the line typed into TEXT, then Enter
//   hex <byte> ...                the hex fields filled, then their Send
//   speed|data|parity|stop <n>    item n of that Settings menu
//   ports                         opens Settings > Port: prints "item <caption>|<tooltip>" each
//   port <n>                      item Com n of Settings > Port
//   value                         prints "value <what the result field holds>"
//   retries <ms>                  the port looks for a lost device only this often
//   inventory <COMn=name>,...     the ports the system lists from now on, as named
//   arrival <COMn>                Windows' notice that the port arrived (Windows only)
//   waiting                       prints "waiting <what the port waits for>"
//   quit                          closes the window, as its close button does
// After each command it prints "done <panel 1>|<panel 2>|<panel 3>"; as they happen, "lost
// <reason>", "reconnected", "box <prompt>" and "notice <prompt>".
// Usage: zel-driver [zelconnect [LOG]|tolvek]: LOG is where Zel_Connect logs, if not beside it.
#include "frmmain.h"
#include "tolvekwindow.h"
#include "zelconnectwindow.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QPointer>

#ifdef Q_OS_WIN
#include <windows.h>
// After windows.h:
#include <dbt.h>
#endif

#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

namespace {

void say(const QString& line) {
    QString text = line;
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" | "))
        .replace(u'\n', QStringLiteral(" | "));
    std::printf("%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

#ifdef Q_OS_WIN
// As Windows sends it to the windows that asked for device notices.
void sendArrival(const QString& port) {
    struct {
        DEV_BROADCAST_PORT_W head;
        wchar_t name[16];
    } notice{};
    notice.head = {sizeof notice, DBT_DEVTYP_PORT, 0, {}};
    port.left(15).toWCharArray(notice.head.dbcp_name);
    const HWND watch = ::FindWindowExW(HWND_MESSAGE, nullptr, L"ZelConnectDeviceWatch", nullptr);
    ::SendMessageW(watch, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, LPARAM(&notice));
}
#endif

void run(frmMain& window, QList<serial::PortInfo>& inventory, const QString& line) {
    const QString verb = line.section(u' ', 0, 0);
    const QString rest = line.section(u' ', 1);
    using SettingsMenu = void (frmMain::*)(qint16);
    static const QMap<QString, SettingsMenu> settingsMenus{{"speed", &frmMain::mnuSpeedSel_Click},
                                                           {"data", &frmMain::mnuDataBSel_Click},
                                                           {"parity", &frmMain::mnuParitySel_Click},
                                                           {"stop", &frmMain::mnuStopSel_Click}};
    if (const SettingsMenu menu = settingsMenus.value(verb)) {
        (window.*menu)(static_cast<qint16>(rest.toInt()));
    } else if (verb == QLatin1String("ports")) {
        emit window.menus().mnuPort->aboutToShow();
        for (const QAction* item : window.menus().mnuPort->actions()) {
            if (!item->isSeparator()) {
                say(QStringLiteral("item %1|%2").arg(item->text(), item->toolTip()));
            }
        }
    } else if (verb == QLatin1String("port")) {
        const int port = rest.toInt();
        if (QAction* item =
                port >= 1 && port <= serial::kHighestPort ? window.menus().mnuCom[port] : nullptr) {
            item->trigger();
        }
    } else if (verb == QLatin1String("connect")) {
        window.mnuConnect_Click();
    } else if (verb == QLatin1String("text")) {
        window.controls().txtTextOut->setText(rest);
        qint16 enter = 13;
        window.txtTextOut_KeyPress(enter);
    } else if (verb == QLatin1String("hex")) {
        const QStringList bytes = rest.split(u' ', Qt::SkipEmptyParts);
        for (int i = 0; i < 12; ++i) {
            window.controls().txtHEX[i]->setText(bytes.value(i));
        }
        window.btnSend_Click(0);
    } else if (verb == QLatin1String("retries")) {
        window.serialControl().setRetryDelays(rest.toInt(), rest.toInt());
    } else if (verb == QLatin1String("inventory")) {
        inventory.clear();
        for (const QString& port : rest.split(u',', Qt::SkipEmptyParts)) {
            serial::PortInfo listed;
            listed.device = port.section(u'=', 0, 0);
            listed.description = port.section(u'=', 1);
            inventory << listed;
        }
        window.serialControl().setPortInventory([&inventory] { return inventory; });
    } else if (verb == QLatin1String("arrival")) {
#ifdef Q_OS_WIN
        sendArrival(rest);
#endif
    } else if (verb == QLatin1String("waiting")) {
        say(QStringLiteral("waiting ") + window.serialControl().WaitingText());
    } else if (verb == QLatin1String("value")) {
        say(QStringLiteral("value ") + window.sampleText(frmMain::SampleText::Result));
    } else if (verb == QLatin1String("quit")) {
        window.close();
        return;
    }
    const auto panel = [&window](int n) {
        return window.controls().StatusBar1Panels[n]->text();
    };
    say(QStringLiteral("done %1|%2|%3").arg(panel(1), panel(2), panel(3)));
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const bool tolvek = argc > 1 && QByteArray(argv[1]) == "tolvek";
    const std::unique_ptr<frmMain> window =
        tolvek ? std::unique_ptr<frmMain>(std::make_unique<TolvekWindow>())
               : std::make_unique<ZelConnectWindow>(argc > 2 ? QString::fromLocal8Bit(argv[2])
                                                             : QString());
    window->setMessagePresenter(
        [](QWidget*, const MessageBoxRequest& box) { say(QStringLiteral("box ") + box.prompt); });
    window->setNoticePresenter([](QWidget*, const MessageBoxRequest& notice) {
        say(QStringLiteral("notice ") + notice.prompt);
    });
    QObject::connect(&window->serialControl(), &MSComm::PortLost,
                     [](const QString& reason) { say(QStringLiteral("lost ") + reason); });
    QObject::connect(&window->serialControl(), &MSComm::Reconnected,
                     [] { say(QStringLiteral("reconnected")); });
    window->show();

    // Commands are read apart from the event loop and carried out in it, one at a time.
    QPointer<frmMain> target = window.get();
    QList<serial::PortInfo> inventory; // where a test lists the ports
    std::thread reader([target, &inventory] {
        std::string line;
        while (std::getline(std::cin, line)) {
            const QString command = QString::fromLocal8Bit(line).trimmed();
            QMetaObject::invokeMethod(
                qApp,
                [target, &inventory, command] {
                    if (target) {
                        run(*target, inventory, command);
                    }
                },
                Qt::QueuedConnection);
        }
    });
    reader.detach();
    say(QStringLiteral("ready"));
    return QApplication::exec();
}
