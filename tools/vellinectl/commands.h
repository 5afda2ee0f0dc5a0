#pragma once

#include <QStringList>
#include <QTextStream>

#include <functional>
#include <optional>

// Exit codes shared by every sub-command.
namespace vellinectl {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitPartial = 2;
constexpr int ExitUsage = 64;

struct Io {
    QTextStream& out; // one JSON object per line
    QTextStream& err; // human-readable errors
};

using CommandFn = std::function<int(const QStringList& args, Io& io)>;

struct Command {
    QString name;    // first word on the command line, e.g. "quote"
    QString summary; // one line for --help
    QString usage;   // full usage text for "vellinectl NAME --help"
    CommandFn run;   // gets the words after the name; runs inside a QCoreApplication
};

// Registers a command at static-initialisation time:
//   static const bool registered = vellinectl::registerCommand({...});
bool registerCommand(Command command);
const QList<Command>& commands();

// The value of a --seconds option: a finite number above zero. Otherwise an error naming
// `command` goes to io.err and the result is empty.
std::optional<double> parseSeconds(const QString& command, const QString& value, Io& io);

// Runs the command line (argv without the program name). Exposed so tests can call it
// in-process and capture the output.
int dispatch(const QStringList& args, Io& io);

} // namespace vellinectl
