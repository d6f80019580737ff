#pragma once

#include "kezoavdeviceinfo.h"
#include "kezocameraglobal.h"

#include <vector>

// Lists the video capture devices of the machine. When the environment
// variable KEZO_CAMERA_TEST is set, the synthetic test camera comes first.
class KEZOCAMERA_EXPORT KezoExternalMediaManager
{
public:
    static KezoExternalMediaManager *instance();

    // Appends the devices to `devices` and returns how many were appended.
    int listVideoDevices(std::vector<KezoAVDeviceInfo> &devices);

private:
    KezoExternalMediaManager() = default;
};
