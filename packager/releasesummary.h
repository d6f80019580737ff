#pragma once

#include "packager/releasebuilder.h"

#include <QJsonObject>
#include <QString>
#include <QVector>

// What a run of update-packager reports at its end: for people, the table of
// the published files and a line per old version and for the self-update
// packet; for a pipeline, all of it as JSON.

// One line per published file with its number of files, its size, the size
// against the replace packet of the same old version, and the time it took
// (for a partial packet its patches' diff time on all threads added up, plus
// the packing).
QString summaryTable(const QVector<ReleaseBuilder::PublishedFile> &files);
// How the files of each old version go (as patches, whole, added; the
// partial packet against the replace packet), and the self-update packet
// before and after stripping. A dry run has no packets: its lines count the
// changed files only.
QString summaryLines(const ReleaseBuilder &builder, bool dryRun);
// The run as JSON: `built` and the builder's error when it did not end well.
QJsonObject summaryJson(const ReleaseBuilder &builder, const ReleaseOptions &options, bool built,
                        qint64 milliseconds);
