// Hosts the avatar editor window the way the main application does: no parent,
// avatarSelected connected, shown. Every confirmed avatar is written as a PNG
// to the path given on the command line, which is then printed. The program
// ends when the window is closed.

#include "avatarmodifywidget.h"

#include <QApplication>
#include <QPixmap>
#include <QPointer>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QTextStream err(stderr);
    if (arguments.size() != 2) {
        err << "usage: avatar-demo <output.png>\n";
        return 2;
    }
    const QString outputPath = arguments.at(1);

    // The window deletes itself on close; the host only watches it.
    QPointer<ZudED::AvatarModifyWidget> window = new ZudED::AvatarModifyWidget(nullptr);
    QObject::connect(window, &ZudED::AvatarModifyWidget::avatarSelected, &app,
                     [&outputPath, &err](const QPixmap &avatar) {
                         if (!avatar.save(outputPath, "PNG")) {
                             err << "cannot write " << outputPath << "\n";
                             err.flush();
                             return;
                         }
                         QTextStream(stdout) << outputPath << "\n";
                     });
    window->show();
    return app.exec();
}
