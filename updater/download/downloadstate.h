#pragma once

// The state of a download, shared by the coordinator (Idle, Downloading,
// AllFinished, Failed) and its range workers (Idle, Downloading, PartFinished,
// Failed).
enum DownloadState
{
    Idle = 0,
    Downloading = 1,
    PartFinished = 2,
    AllFinished = 3,
    Failed = 4
};
