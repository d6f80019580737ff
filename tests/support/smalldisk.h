#pragma once

#include <QString>

// A disk of a few KiB (a tmpfs) mounted on an existing folder for as long as
// the object lives, to see code meet a full or read-only disk. Mounting needs
// root; without it mounted() is false and the test skips.
class SmallDisk
{
public:
    explicit SmallDisk(const QString &folder);
    ~SmallDisk();

    bool mounted() const { return m_mounted; }
    // Fills the disk up to its last `room` bytes (a file "filler" on it).
    bool fill(qint64 room = 0) const;
    bool makeReadOnly() const;

private:
    QString m_folder;
    bool m_mounted = false;
};
