#pragma once

#include "portinfo.h"

/// A USB adapter as the machine lists it.
inline serial::PortInfo usbAdapter(const QString& device, const QString& serialNumber,
                                   const QString& interface = "00",
                                   const QString& location = "1-1") {
    return {.device = device,
            .description = "FT232R USB UART",
            .serialNumber = serialNumber,
            .vendorId = "0403",
            .productId = "6001",
            .interfaceNumber = interface,
            .usbLocation = location};
}
