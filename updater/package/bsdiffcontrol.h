#pragma once

#include "releasecontract/patchentry.h"

#include <QObject>
#include <QString>

// Rebuilds the files of the update configuration's patch list from the
// installed copies and their BSDIFF40 patches, checking every file by MD5
// before and after. A run is synchronous and ends with exactly one signal.
class BsdiffControl : public QObject
{
    Q_OBJECT

public:
    explicit BsdiffControl(QObject *parent = nullptr);

    // Walks modifyList in key order and stops at the first failure; files
    // patched before it stay in newDir and their patches are gone.
    void applyPatchList();

    PatchList modifyList;
    QString oldDir;
    QString patchDir;
    QString newDir;

signals:
    void bsdiffSuccessSignal();
    void bsdiffFailSignal(QString);

private:
    // Returns the failure text, or an empty string when the file is done.
    QString applyPatch(const QString &file, const PatchEntry &entry) const;
};
