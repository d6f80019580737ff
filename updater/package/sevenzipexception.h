#pragma once

#include <QString>
#include <stdexcept>

namespace Lib7z {

// The facade's only way to report that an archive could not be opened or that
// a folder could not be created. The standard text is the message in UTF-8.
class SevenZipException : public std::runtime_error
{
public:
    explicit SevenZipException(const QString &message);

    QString message() const { return m_message; }

private:
    QString m_message;
};

} // namespace Lib7z
