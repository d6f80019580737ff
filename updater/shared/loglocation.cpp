#include "loglocation.h"

QString logDirectory;
QString logFileName;
