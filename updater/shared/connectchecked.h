#pragma once

#include <QObject>

// Connects by signature text, as the updater does throughout, but never
// silently: a connection that cannot be made (a signal or slot renamed on one
// side only) is logged with both names, where Qt's own warning would be
// dropped by the log sink, and stops a debug build at once.
bool connectChecked(const QObject *sender, const char *signal, const QObject *receiver,
                    const char *method, Qt::ConnectionType type = Qt::AutoConnection);
