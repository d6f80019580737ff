#pragma once

#include <QtGlobal>

// The camera library's own build defines KEZOCAMERA_LIBRARY and exports its
// classes; every user imports them.
#if defined(KEZOCAMERA_LIBRARY)
#define KEZOCAMERA_EXPORT Q_DECL_EXPORT
#else
#define KEZOCAMERA_EXPORT Q_DECL_IMPORT
#endif
