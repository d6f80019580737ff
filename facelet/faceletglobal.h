#pragma once

#include <QtGlobal>

// Marks the classes that the host application links against. The library's own
// build defines FACELET_LIBRARY and exports them; every user imports them.
#if defined(FACELET_LIBRARY)
#define FACELET_EXPORT Q_DECL_EXPORT
#else
#define FACELET_EXPORT Q_DECL_IMPORT
#endif
