// beautify: one beautify call on a picture, with the statuses of the seventeen features.
#include <QCoreApplication>
#include <QTextStream>

#include "tools/beautify/beautify_command.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return runBeautifyCommand(arguments, out, err);
}
