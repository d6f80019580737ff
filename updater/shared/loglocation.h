#pragma once

#include <QString>

// Where the log goes: the only process-wide variables of the updater. Start-up
// writes both once, before the log sink is installed and before any other
// thread exists; afterwards the sink and the failure-log upload only read them.
extern QString logDirectory;
extern QString logFileName;
