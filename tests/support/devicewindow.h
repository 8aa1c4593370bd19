#pragma once

#include "frmmain.h"
#include "portmapping.h"
#include "pseudoterminal.h"
#include "responseview.h"
#include "testhelpers.h"
#include "usbadapter.h"

#include <memory>
#include <type_traits>

/// A window of one of the programs with its Com 1 on a pseudo-terminal that the test plays
/// the device on, reached through a link in a temporary folder as a device that can come
/// back; Com 2 to 4 lead nowhere and nothing of the machine's own ports is looked at. Boxes
/// and notices are recorded, not shown; a log goes to the same folder.
template <typename Window> class DeviceWindow {
public:
    DeviceWindow() {
        device = std::make_unique<PseudoTerminal>();
        QFile::link(device->devicePath(), link());
        qputenv("ZEL_COM1", QFile::encodeName(link()));
        for (const char* name : {"ZEL_COM2", "ZEL_COM3", "ZEL_COM4"}) {
            qputenv(name, "/nonexistent/zel-test-port");
        }
        if constexpr (std::is_same_v<Window, frmMain>) {
            window = std::make_unique<frmMain>(zelConnectVariant());
        } else if constexpr (std::is_constructible_v<Window, QString>) {
            window = std::make_unique<Window>(logPath());
        } else {
            window = std::make_unique<Window>();
        }
        window->setMessagePresenter([this](QWidget*, const MessageBoxRequest& r) { boxes << r; });
        window->setNoticePresenter([this](QWidget*, const MessageBoxRequest& r) { notices << r; });
        window->serialControl().setPortInventory([this] { return ports; });
        window->serialControl().setComNumbersFile(dir.filePath("ports.conf"));
    }
    ~DeviceWindow() { window.reset(); }

    MSComm& comm() const { return window->serialControl(); }
    QString link() const { return dir.filePath("sensor"); }
    QString logPath() const { return dir.filePath("app.txt"); }
    QByteArray log() const { return readAll(logPath()); }
    QString panel(int number) const { return window->controls().StatusBar1Panels[number]->text(); }
    QString response() const { return window->controls().txtResponse->text(); }

    /// Connect, as the user chooses it; true when the port is open.
    bool connectPort() {
        window->mnuConnect_Click();
        return comm().PortOpen();
    }
    /// The device goes away (another process closes its end, as an unplugged adapter does)
    /// and its path with it: another test's terminal may get the same number meanwhile.
    void unplug() {
        device->unplug();
        QFile::remove(link());
    }
    /// A new device where the old one was: the link now leads to a new pseudo-terminal.
    void plugInAgain() {
        device = std::make_unique<PseudoTerminal>();
        QFile::remove(link());
        QFile::link(device->devicePath(), link());
    }
    /// What the program writes to the device until it has been quiet for quietMs.
    QByteArray readDevice(int quietMs = 200) { return device->readUntilQuiet(quietMs); }
    void showActive() { ::showActive(window.get()); }

    QTemporaryDir dir;
    std::unique_ptr<PseudoTerminal> device;
    std::unique_ptr<Window> window;
    QList<MessageBoxRequest> boxes;
    QList<MessageBoxRequest> notices;
    QList<serial::PortInfo> ports; ///< what the machine seems to have
};
