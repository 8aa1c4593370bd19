#include "devicewatch.h"
#include "portinfo.h"

#include <QHash>

#include <windows.h>
// After windows.h:
#include <dbt.h>

namespace serial {

namespace {

// Windows tells the windows that asked for it when a device arrives or goes; a message-only
// window of this watch asks for every device interface (a COM port's, and a USB adapter's
// own) from the start, so that a port's driver being replaced is known even while nothing
// is awaited. Many ports never send one (Wine's mapped ports, virtual and Bluetooth ports,
// drivers without a device interface): the port polls for those.
class ArrivalWatch : public DeviceWatch {
public:
    ArrivalWatch() { listen(); }

    ~ArrivalWatch() override {
        if (m_notify) {
            ::UnregisterDeviceNotification(m_notify);
        }
        if (m_window) {
            ::DestroyWindow(m_window);
        }
    }

    bool watch(const DeviceIdentity&) override {
        m_watching = true;
        return false; // a port known by its name may return without a notice
    }

    void stop() override { m_watching = false; }

private:
    static constexpr const wchar_t* kClassName = L"ZelConnectDeviceWatch";

    void listen() {
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &ArrivalWatch::procedure;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kClassName;
        ::RegisterClassW(&windowClass); // fails harmlessly once it is registered
        m_window = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     instance, nullptr);
        if (!m_window) {
            return;
        }
        ::SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        m_notify = ::RegisterDeviceNotificationW(
            m_window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE | DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
    }

    // The port a notice is about, if it is one: said outright (a port's own notice), or
    // looked up from its interface at arrival and remembered for its removal.
    QString portOf(WPARAM kind, const DEV_BROADCAST_HDR* header) {
        if (!header) {
            return {};
        }
        if (header->dbch_devicetype == DBT_DEVTYP_PORT &&
            header->dbch_size >= sizeof(DEV_BROADCAST_PORT_W)) {
            return QString::fromWCharArray(
                       reinterpret_cast<const DEV_BROADCAST_PORT_W*>(header)->dbcp_name)
                .toUpper();
        }
        if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
            header->dbch_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)) {
            return {};
        }
        const wchar_t* name =
            reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header)->dbcc_name;
        const QString key = QString::fromWCharArray(name).toUpper();
        if (kind == DBT_DEVICEARRIVAL) {
            const QString port = comPortOfInterface(QString::fromWCharArray(name));
            if (!port.isEmpty()) {
                m_ports.insert(key, port);
            }
            return port;
        }
        return m_ports.take(key);
    }

    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM kind, LPARAM data) {
        if (message == WM_DEVICECHANGE &&
            (kind == DBT_DEVICEARRIVAL || kind == DBT_DEVICEREMOVECOMPLETE)) {
            auto* self =
                reinterpret_cast<ArrivalWatch*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
            if (self) {
                // After the notice: the control opens the port outside Windows' own call.
                if (const QString port =
                        self->portOf(kind, reinterpret_cast<const DEV_BROADCAST_HDR*>(data));
                    !port.isEmpty()) {
                    QMetaObject::invokeMethod(
                        self, [self, port] { emit self->portReplaced(port); },
                        Qt::QueuedConnection);
                }
                if (self->m_watching && kind == DBT_DEVICEARRIVAL) {
                    QMetaObject::invokeMethod(self, &DeviceWatch::appeared, Qt::QueuedConnection);
                }
            }
            return TRUE;
        }
        return ::DefWindowProcW(window, message, kind, data);
    }

    HWND m_window = nullptr;
    HDEVNOTIFY m_notify = nullptr;
    bool m_watching = false;
    QHash<QString, QString> m_ports; // interface name → its COM name, while it is there
};

} // namespace

std::unique_ptr<DeviceWatch> systemDeviceWatch() {
    return std::make_unique<ArrivalWatch>();
}

} // namespace serial
