#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

class UpdateControl;

// Stands in for the update window: receives the controller's window signals on
// the test's thread and records them in order. It also notes the first
// hand-off towards the setup program, which the window itself never sees; that
// signal arrives after those its own handling emits.
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
    // The first of "box <flag> <text>" or "exit".
    QString ending;
    // The folder name of the first hand-off, empty when there was none.
    QString handOff;

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
