#pragma once

#include "packager/releasebuilder.h"

#include <QString>
#include <QVector>

// The table printed at the end of a release: one line per published file
// with its number of files, its size, the size against the replace packet of
// the same old version, and the time it took (for a partial packet its
// patches' diff time on all cores added up, plus the packing).
QString summaryTable(const QVector<ReleaseBuilder::PublishedFile> &files);
