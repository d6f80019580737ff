#include "windowrecorder.h"

#include "updatecontrol.h"

#include <QFileInfo>

void WindowRecorder::attach(UpdateControl *controller)
{
    connect(controller, SIGNAL(progressChangeSignal(int, qint64, qint64, qint64)), this,
            SLOT(progressChangeSlot(int, qint64, qint64, qint64)));
    connect(controller, SIGNAL(changeLabelTextSignal(QString)), this,
            SLOT(chanageLabelText(QString)));
    connect(controller, SIGNAL(showMessageBoxSignal(QString, bool)), this,
            SLOT(showMessageBox(QString, bool)));
    connect(controller, SIGNAL(showMovieSignal()), this, SLOT(showMovie()));
    connect(controller, SIGNAL(hideMovieSignal()), this, SLOT(hideMovie()));
    connect(controller, SIGNAL(exitSignal()), this, SLOT(closeAppSlot()));
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
    end(QStringLiteral("trellim ") + QFileInfo(packetPath).fileName());
}

void WindowRecorder::end(const QString &event)
{
    events << event;
    if (ending.isEmpty())
        ending = event;
}
