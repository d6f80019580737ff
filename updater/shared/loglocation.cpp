#include "shared/loglocation.h"

QString logDirectory;
QString logFileName;
