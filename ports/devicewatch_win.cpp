#include "devicewatch.h"

#include <windows.h>
// dbt.h needs windows.h first.
#include <dbt.h>

namespace serial {

namespace {

// Windows tells the windows that asked for it when a device arrives; a message-only window
// of this watch asks for every device interface (a COM port's, and a USB adapter's own).
// Mapped ports that never arrive (Wine's) send nothing: the retries find them.
class ArrivalWatch : public DeviceWatch {
public:
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
        if (!m_window) {
            listen();
        }
        return m_notify != nullptr;
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

    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM kind, LPARAM data) {
        if (message == WM_DEVICECHANGE && kind == DBT_DEVICEARRIVAL) {
            auto* self =
                reinterpret_cast<ArrivalWatch*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
            if (self && self->m_watching) {
                // After the notice: the control opens the port outside Windows' own call.
                QMetaObject::invokeMethod(self, &DeviceWatch::appeared, Qt::QueuedConnection);
            }
            return TRUE;
        }
        return ::DefWindowProcW(window, message, kind, data);
    }

    HWND m_window = nullptr;
    HDEVNOTIFY m_notify = nullptr;
    bool m_watching = false;
};

} // namespace

std::unique_ptr<DeviceWatch> systemDeviceWatch() {
    return std::make_unique<ArrivalWatch>();
}

} // namespace serial
