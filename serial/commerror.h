#pragma once

#include <QString>

/// An error of the serial control: a non-zero number and a description for the user.
struct CommError {
    /// The numbers the control reports, as the communications control of the original
    /// platform numbers them.
    enum Number {
        comInvalidPropertyValue = 380,
        comInvalidPortNumber = 8002,
        comPortAlreadyOpen = 8005,
        comPortNotAvailable = 8010,
        comSetCommStateFailed = 8015,
        comPortNotOpen = 8018,
        comWriteFailed = 8020,
    };

    int number = 0;
    QString description;

    explicit operator bool() const { return number != 0; }
};
