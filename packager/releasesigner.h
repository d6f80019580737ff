#pragma once

#include "packager/releaseoptions.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QString>

class ReleaseConfiguration;
class SigningKey;

// The signed release statement of a configuration, for the updaters that
// trust the signing key.
class ReleaseSigner
{
public:
    ReleaseSigner(const ReleaseOptions &options, const SigningKey &key);

    // The signature file of `json`, the configuration published as
    // `configurationName`; `releaseFiles` are this release's files by their
    // URLs. Files that the configuration keeps from the merged one take their
    // SHA-256 and size from the merged configuration's statement, or from a
    // file of the same name beside it.
    bool sign(const QString &configurationName, const ReleaseConfiguration &configuration,
              const QByteArray &json, const QHash<QString, QString> &releaseFiles,
              QByteArray *signatureFile);

    QString errorString() const { return m_errorString; }

private:
    bool keptFile(const QString &url, const QByteArray &md5, QByteArray *sha256, qint64 *size);

    const ReleaseOptions m_options;
    const SigningKey &m_key;
    // The merged configuration's statement, once read; empty when it has none
    // that this key signed.
    QMap<QString, QByteArray> m_mergedSums;
    QMap<QString, qint64> m_mergedSizes;
    bool m_mergedStatementRead = false;
    QString m_errorString;
};
