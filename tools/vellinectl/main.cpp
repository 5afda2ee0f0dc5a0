#include "commands.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Velline"));
    QCoreApplication::setApplicationName(QStringLiteral("Velline"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    vellinectl::Io io{out, err};
    return vellinectl::dispatch(app.arguments().mid(1), io);
}
