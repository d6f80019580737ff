#include "package/sevenzipexception.h"

namespace Lib7z {

SevenZipException::SevenZipException(const QString &message)
    : std::runtime_error(message.toUtf8().toStdString()), m_message(message)
{}

} // namespace Lib7z
