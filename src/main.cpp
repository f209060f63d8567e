#include "applicationsetup.h"
#include "mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char* argv[])
{
    returnLargeBlocksToSystem();
    QApplication app(argc, argv);
    setApplicationIdentity();

    QCommandLineParser parser;
    configureCommandLine(parser);
    parser.process(app);

    applyDarkLook(QStringLiteral("Fusion"));

    MainWindow window;
    window.show();
    return app.exec();
}
