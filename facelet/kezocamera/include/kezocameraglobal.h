#pragma once

#include <QtGlobal>

// Marks the camera library's interface classes; everything else in it stays
// hidden. KEZOCAMERA_LIBRARY is defined where the classes are compiled in (the
// library, and tests that link its object files), which export them; every
// other user imports them.
#if defined(KEZOCAMERA_LIBRARY)
#define KEZOCAMERA_EXPORT Q_DECL_EXPORT
#else
#define KEZOCAMERA_EXPORT Q_DECL_IMPORT
#endif
