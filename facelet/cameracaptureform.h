#pragma once

#include <QStackedWidget>
#include <memory>

class KezoFrontCamera;
class QGraphicsProxyWidget;
class QLabel;

namespace Ui {
class CameraCaptureForm;
}

// The "From Camera" page of the avatar editor. Page 0 shows the first camera's
// live picture in a 416 x 311 viewfinder that can be mirrored with a short flip
// animation; "Capture" freezes the viewfinder picture into the crop selector of
// page 1, whose crops the form forwards. The camera stays open for the form's
// whole life.
class CameraCaptureForm : public QStackedWidget
{
    Q_OBJECT

public:
    explicit CameraCaptureForm(QWidget *parent = nullptr);
    ~CameraCaptureForm() override;

signals:
    void avatarSelected(const QPixmap &avatar);

public slots:
    void drawImage(const QImage &image);
    void takeImage();
    void displayViewfinder();
    void setMirrored(bool mirrored);
    void flipAnimate();

private:
    bool flipping() const;

    std::unique_ptr<Ui::CameraCaptureForm> ui;
    // Declared after the form so that it is released first.
    std::unique_ptr<KezoFrontCamera> camera;
    QLabel *viewfinder = nullptr;
    QGraphicsProxyWidget *viewfinderProxy = nullptr;
    bool mirrored = false;
    int flipAngle = 0;
    int flipStep = 0;
    bool frameShown = false;
};
