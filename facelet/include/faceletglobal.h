#pragma once

#include <QtGlobal>

// Marks the classes that the host application links against; everything else
// in the library stays hidden. FACELET_LIBRARY is defined where the classes are
// compiled in (the library, and tests that link its object files), which
// export them; every other user imports them.
#if defined(FACELET_LIBRARY)
#define FACELET_EXPORT Q_DECL_EXPORT
#else
#define FACELET_EXPORT Q_DECL_IMPORT
#endif
