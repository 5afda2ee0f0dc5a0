#include "commands.h"

#include <cmath>

namespace vellinectl {

namespace {
QList<Command>& registry() {
    static QList<Command> list;
    return list;
}

void printHelp(QTextStream& s) {
    s << "usage: vellinectl COMMAND [ARGS...]\n\n"
         "The Velline companion: check the chart feed and script the watch list.\n"
         "Output is one JSON object per line.\n\ncommands:\n";
    for (const auto& c : registry())
        s << "  " << c.name.leftJustified(8) << "  " << c.summary << "\n";
    s << "\nRun 'vellinectl COMMAND --help' for a command's arguments.\n";
}
} // namespace

bool registerCommand(Command command) {
    registry().append(std::move(command));
    std::sort(registry().begin(), registry().end(),
              [](const Command& a, const Command& b) { return a.name < b.name; });
    return true;
}

const QList<Command>& commands() {
    return registry();
}

int dispatch(const QStringList& args, Io& io) {
    if (args.isEmpty()) {
        printHelp(io.err);
        io.err.flush();
        return ExitUsage;
    }
    if (args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h") ||
        args.first() == QLatin1String("help")) {
        printHelp(io.out);
        io.out.flush();
        return ExitOk;
    }
    for (const auto& c : registry()) {
        if (c.name != args.first())
            continue;
        const QStringList rest = args.mid(1);
        if (rest.contains(QLatin1String("--help")) || rest.contains(QLatin1String("-h"))) {
            io.out << c.usage << "\n";
            io.out.flush();
            return ExitOk;
        }
        const int rc = c.run(rest, io);
        io.out.flush();
        io.err.flush();
        return rc;
    }
    io.err << "vellinectl: unknown command '" << args.first() << "'\n";
    printHelp(io.err);
    io.err.flush();
    return ExitUsage;
}

std::optional<double> parseSeconds(const QString& command, const QString& value, Io& io) {
    bool ok = false;
    const double parsed = value.toDouble(&ok);
    if (!ok || !std::isfinite(parsed) || parsed <= 0) {
        io.err << "vellinectl " << command << ": --seconds needs a positive number, not '" << value
               << "'\n";
        return std::nullopt;
    }
    return parsed;
}

} // namespace vellinectl
