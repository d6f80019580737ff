#pragma once

#include "releaseoptions.h"
#include "signingkey.h"

#include <QByteArray>
#include <QHash>
#include <QString>

class ReleaseConfiguration;
class ReleaseStatement;

// Signs a release for the updaters that trust the signing key: the signed
// statement of its configuration, and the refusal of a self-update updater
// that would not check it.
class ReleaseSigner
{
public:
    explicit ReleaseSigner(const ReleaseOptions &options);

    // Loads the options' signing key.
    bool load();
    // True when the updater program at `path` trusts the signing key; an
    // installation that updates itself runs it next, and one that does not
    // would check nothing from then on.
    bool isTrustedBy(const QString &path);
    // The signature file of `json`, the configuration published as
    // `configurationName`; `releaseFiles` are this release's files by their
    // URLs. Files that the configuration keeps from the merged one take their
    // SHA-256 from the merged configuration's statement, or from a file of
    // the same name beside it.
    bool sign(const QString &configurationName, const ReleaseConfiguration &configuration,
              const QByteArray &json, const QHash<QString, QString> &releaseFiles,
              QByteArray *signatureFile);

    QString publicKeyText() const { return m_key.publicKeyText(); }
    QString errorString() const { return m_errorString; }

private:
    bool fail(const QString &text);
    bool keptFileSha256(const QString &url, const QByteArray &md5, QByteArray *sha256);

    ReleaseOptions m_options;
    SigningKey m_key;
    // The merged configuration's statement, once read; empty when it has none
    // that this key signed.
    QHash<QString, QByteArray> m_mergedSums;
    bool m_mergedStatementRead = false;
    QString m_errorString;
};
