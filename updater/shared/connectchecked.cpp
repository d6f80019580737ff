#include "shared/connectchecked.h"

#include <QDebug>

namespace {
// SIGNAL() and SLOT() put a code digit before the signature.
const char *signature(const char *member)
{
    return member && *member ? member + 1 : "";
}

const char *className(const QObject *object)
{
    return object ? object->metaObject()->className() : "null";
}
} // namespace

bool connectChecked(const QObject *sender, const char *signal, const QObject *receiver,
                    const char *method, Qt::ConnectionType type)
{
    if (QObject::connect(sender, signal, receiver, method, type))
        return true;
    qDebug() << "cannot connect" << className(sender) << signature(signal) << "to"
             << className(receiver) << signature(method);
    Q_ASSERT_X(false, "connectChecked", "a signal or slot was renamed on one side only");
    return false;
}
