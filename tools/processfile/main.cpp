// processfile: one picture through the platform's file processing.
#include <QCoreApplication>
#include <QTextStream>

#include "tools/processfile/process_command.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return runProcessFileCommand(arguments, out, err);
}
