#include "windowrecorder.h"

#include "control/updatecontrol.h"

#include <QFileInfo>

void WindowRecorder::attach(UpdateControl *controller)
{
    controller->connectWindow(this);
    connect(controller, SIGNAL(callTrellimSignal(QString)), this, SLOT(trellim(QString)));
}

void WindowRecorder::progressChangeSlot(int index, qint64 startPoint, qint64 endPoint,
                                        qint64 readySize)
{
    Q_UNUSED(index)
    const QPair<qint64, qint64> report(readySize, endPoint - startPoint);
    if (!events.isEmpty() && events.last() == QLatin1String("progress")) {
        finalProgress.last() = report;
        return;
    }
    events << QStringLiteral("progress");
    finalProgress << report;
}

void WindowRecorder::chanageLabelText(QString text)
{
    events << QStringLiteral("label ") + text;
}

void WindowRecorder::showMessageBox(QString text, bool isUploadLog)
{
    end(QStringLiteral("box %1 %2").arg(isUploadLog ? "true" : "false", text));
}

void WindowRecorder::showMovie()
{
    events << QStringLiteral("showMovie");
}

void WindowRecorder::hideMovie()
{
    events << QStringLiteral("hideMovie");
}

void WindowRecorder::closeAppSlot()
{
    end(QStringLiteral("exit"));
}

void WindowRecorder::trellim(QString packetPath)
{
    if (handOff.isEmpty())
        handOff = QFileInfo(packetPath).fileName();
}

void WindowRecorder::end(const QString &event)
{
    events << event;
    if (ending.isEmpty())
        ending = event;
}
