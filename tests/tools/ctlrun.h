#pragma once

// One vellinectl command run inside the test process, its output as a script would read it.

#include "commands.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTextStream>

struct CtlRun {
    int rc = -1;
    QString out, err;          // as written
    QStringList lines, errors; // the same, one entry per line
    // The JSON object on the last line printed; empty when nothing was printed.
    QJsonObject state() const {
        return QJsonDocument::fromJson(lines.value(lines.size() - 1).toUtf8()).object();
    }
};

inline CtlRun runCtl(const QStringList& args) {
    CtlRun r;
    {
        QTextStream out(&r.out), err(&r.err);
        vellinectl::Io io{out, err};
        r.rc = vellinectl::dispatch(args, io);
    }
    r.lines = r.out.split('\n', Qt::SkipEmptyParts);
    r.errors = r.err.split('\n', Qt::SkipEmptyParts);
    return r;
}
