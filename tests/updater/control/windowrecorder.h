#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

class UpdateControl;

// Stands in for the update window: receives the controller's window signals on
// the test's thread and records them in order, with the hand-off signal
// towards the setup program as a third way for an update to end.
class WindowRecorder : public QObject
{
    Q_OBJECT

public:
    // Connects the six window signals and callTrellimSignal, as startUpdate does.
    void attach(UpdateControl *controller);

    // "label <text>", "showMovie", "hideMovie", "progress" (one for each run of
    // progress reports), then the ending.
    QStringList events;
    // The last (ready, total) report of each run of progress reports.
    QList<QPair<qint64, qint64>> finalProgress;
    // The first of "box <flag> <text>", "exit" or "trellim <folder name>".
    QString ending;

public slots:
    void progressChangeSlot(int index, qint64 startPoint, qint64 endPoint, qint64 readySize);
    void chanageLabelText(QString text);
    void showMessageBox(QString text, bool isUploadLog);
    void showMovie();
    void hideMovie();
    void closeAppSlot();
    void trellim(QString packetPath);

private:
    void end(const QString &event);
};
