#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>

// The self-update packet: the updater's run-time, its programs stripped of
// what only a debugger reads where they come from this build, packed once per
// updater: a packet made before of the same files (names, sums and
// permissions) and under the same name is taken from the cache folder.
class SelfUpdatePacket
{
public:
    // `files`: name in the packet -> source file; `toStrip`: the names whose
    // source is stripped first; `workFolder` receives the stripped copies.
    SelfUpdatePacket(const QMap<QString, QString> &files, const QStringList &toStrip,
                     const QString &cacheFolder, const QString &workFolder);

    // Packs `files` (name -> file) into the packet at `path`.
    using Packer = std::function<bool(const QString &path, const QMap<QString, QString> &files)>;
    // Writes the packet to `path`, with `pack` unless the cache has it.
    bool write(const QString &path, const Packer &pack);

    // The files that went in: name -> file.
    const QMap<QString, QString> &packedFiles() const { return m_packedFiles; }
    // The run-time's size before and after stripping.
    qint64 sourceBytes() const { return m_sourceBytes; }
    qint64 strippedBytes() const { return m_strippedBytes; }
    bool reused() const { return m_reused; }
    // Why the cache could not keep the packet; the release goes on.
    QString cacheWarning() const { return m_cacheWarning; }
    QString errorString() const { return m_errorString; }

    // The program that strips, or empty when there is none.
    static QString stripProgram();

private:
    bool strip(const QString &source, const QString &target);
    QString cacheKey(const QString &packetPath) const;
    // The cached packet of the key, or empty.
    QString cachedPacket(const QString &key) const;
    void keep(const QString &packetPath, const QString &key);

    QMap<QString, QString> m_files;
    QStringList m_toStrip;
    QString m_cacheFolder;
    QString m_workFolder;
    QMap<QString, QString> m_packedFiles;
    qint64 m_sourceBytes = 0;
    qint64 m_strippedBytes = 0;
    bool m_reused = false;
    QString m_cacheWarning;
    QString m_errorString;
};
