#pragma once

#include <QString>

// One video capture device as the device manager lists it.
struct KezoAVDeviceInfo
{
    // What the user would recognise the device by.
    QString displayName;
    // What a KezoFrontCamera is opened from.
    QString deviceName;
};
