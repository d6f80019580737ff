#pragma once

#include "shared/startupvalues.h"

#include <QPoint>
#include <QWidget>
#include <functional>
#include <memory>

class QMovie;
class UpdateControl;

namespace Ui {
class UpdateWidget;
}

// The updater's only window: a frameless 550 x 200 panel with a status line, a
// progress bar that alternates with an animation, and a minimise button. It
// reacts to the update controller and ends the process on a fatal message.
class UpdateWidget : public QWidget
{
    Q_OBJECT

public:
    // Ends the process after the fatal message box; replaceable so that tests
    // can watch the ending in-process.
    using ProcessExit = std::function<void(int exitCode)>;

    explicit UpdateWidget(QWidget *parent = nullptr);
    ~UpdateWidget() override;

    void setStartupValues(const StartupValues &values);
    void setProcessExit(ProcessExit processExit);
    // How long the log upload may receive nothing before it gives up.
    void setUploadTimeout(int milliseconds);

    // Creates the controller, wires it to the window and runs its first stage.
    void startUpdate();

public slots:
    void progressChangeSlot(int index, qint64 startPoint, qint64 endPoint, qint64 readySize);
    void chanageLabelText(QString text);
    void showMessageBox(QString text, bool isUploadLog);
    void showMovie();
    void hideMovie();
    void closeAppSlot();
    void uploadLog();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    // Only the update ends the window: a close request from the window
    // manager would end the process with 0, which reads as success.
    void closeEvent(QCloseEvent *event) override;
    // Start-up shows the window before it installs the translation.
    void changeEvent(QEvent *event) override;

private:
    // Handed on to the controller unchanged.
    StartupValues startupValues;
    std::unique_ptr<Ui::UpdateWidget> ui;
    UpdateControl *controller = nullptr;
    QMovie *movie = nullptr;
    QPoint dragOffset;
    bool dragging = false;
    bool statusSet = false; // the status line shows the controller's text
    qint64 total = 0;
    qint64 ready = 0;
    ProcessExit processExit;
    int uploadTimeout = 30000;
};
