#pragma once

#include "portinfo.h"

/// A USB adapter as the machine lists it.
inline serial::PortInfo usbAdapter(const QString& device, const QString& serialNumber,
                                   const QString& interface = "00",
                                   const QString& location = "1-1") {
    serial::PortInfo port;
    port.device = device;
    port.description = "FT232R USB UART";
    port.serialNumber = serialNumber;
    port.vendorId = "0403";
    port.productId = "6001";
    port.interfaceNumber = interface;
    port.usbLocation = location;
    return port;
}
