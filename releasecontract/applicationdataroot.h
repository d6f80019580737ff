#pragma once

#include <QString>

// The parent of the program's writable application-data location (the program
// sets no organisation or application name, so on Windows this is the user's
// roaming application-data folder). Start-up and the controller derive the
// main application's data folder and the work folder from it.
QString applicationDataRoot();
