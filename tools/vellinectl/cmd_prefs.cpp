// vellinectl prefs: shows the stored preferences and changes them through the same
// UserPreferences operations the app uses, so a scripted change obeys the same rules (symbol
// cleaning, share and price checks) as one made in the settings window.

#include "commands.h"

#include "prefs/userpreferences.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace vellinectl {

namespace {

using velline::PriceAlert;
using velline::UserPreferences;

static_assert(velline::kMaxSymbolLength == 12, "the usage text names the symbol length limit");

const char* const kUsage =
    "usage: vellinectl prefs [SUB-COMMAND ARGS...]\n"
    "\n"
    "Without a sub-command, prints the stored preferences as one JSON object with the keys\n"
    "trackedSymbols, priceAlerts, holdings, recentlyAdded, displayMode, showFuturesAfterHours,\n"
    "colorScheme (alerts and colours in their stored JSON form) and desktopNotifications.\n"
    "\n"
    "Each sub-command changes the preferences the way the app does, then prints them:\n"
    "  add-symbol TEXT                  add a symbol as the quick-add panel does; prints\n"
    "                                   {\"symbol\":SYMBOL} first (exit 1 if TEXT is blank)\n"
    "  set-tracked SYMBOL [SYMBOL...]   replace the whole watch list (cleaned as the app does)\n"
    "  set-holding SYMBOL SHARES        set a holding; SHARES <= 0 removes it\n"
    "  remove-holding SYMBOL            remove a holding\n"
    "  add-alert SYMBOL PRICE above|below\n"
    "                                   arm a price alert (PRICE > 0)\n"
    "  remove-alert UUID                remove the alert with that id\n"
    "  set-display-mode RAW             regular, compact, compact2 or doNotDisturb\n"
    "  set-futures true|false           show futures after the regular session\n"
    "  set-notifications true|false     also announce alerts and spikes as desktop notifications\n"
    "\n"
    "A symbol for a new entry (add-symbol, a new one in set-tracked or set-holding, add-alert)\n"
    "may have at most 12 characters, as everywhere in the app; a longer one already stored can\n"
    "still be kept, changed or removed.\n"
    "\n"
    "Exit status: 0 done, 1 nothing added or the settings file could not be written,\n"
    "64 wrong arguments.";

QJsonObject stateJson(const UserPreferences& prefs) {
    QJsonArray alerts;
    for (const PriceAlert& alert : prefs.priceAlerts())
        alerts.append(alert.toJson().value_or(QJsonObject()));
    QJsonArray holdings;
    for (const velline::Holding& holding : prefs.holdings())
        holdings.append(holding.toJson().value_or(QJsonObject()));
    return QJsonObject{
        {"trackedSymbols", QJsonArray::fromStringList(prefs.trackedSymbols())},
        {"priceAlerts", alerts},
        {"holdings", holdings},
        {"recentlyAdded", QJsonArray::fromStringList(prefs.recentlyAdded())},
        {"displayMode", prefs.displayModeRaw()},
        {"showFuturesAfterHours", prefs.showFuturesAfterHours()},
        {"colorScheme", prefs.colorScheme().toJson().value_or(QJsonObject())},
        {"desktopNotifications", prefs.desktopNotifications()},
    };
}

void printJson(Io& io, const QJsonObject& object) {
    io.out << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) << "\n";
}

int usageError(Io& io, const QString& message) {
    io.err << "vellinectl prefs: " << message << "\n"
           << "Run 'vellinectl prefs --help' for usage.\n";
    return ExitUsage;
}

// A symbol argument must still hold something once normalised.
std::optional<QString> symbolArg(const QString& text) {
    const QString symbol = velline::normalizeSymbol(text);
    return symbol.isEmpty() ? std::nullopt : std::optional(symbol);
}

// A symbol for a new entry is refused when it is longer than the app takes in anywhere; one
// already stored (`known`) passes, so a script can keep or change what is there.
std::optional<QString> tooLong(const QString& symbol, const QStringList& known = {}) {
    if (symbol.size() <= velline::kMaxSymbolLength || known.contains(symbol))
        return std::nullopt;
    return QStringLiteral("'%1' is longer than %2 characters")
        .arg(symbol)
        .arg(velline::kMaxSymbolLength);
}

QStringList heldSymbols(const UserPreferences& prefs) {
    QStringList symbols;
    for (const velline::Holding& holding : prefs.holdings())
        symbols.append(holding.symbol);
    return symbols;
}

// A finite decimal number in the C locale ("12.5", "-3", "1e3"); no group separators.
std::optional<double> numberArg(const QString& text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Exactly "true" or "false", as the settings file stores them.
std::optional<bool> boolArg(const QString& text) {
    if (text == QLatin1String("true"))
        return true;
    if (text == QLatin1String("false"))
        return false;
    return std::nullopt;
}

struct SubCommand {
    const char* name;
    qsizetype minArgs;
    qsizetype maxArgs; // -1: no upper bound
    const char* arguments;
    // Validates the arguments and runs the operation; returns ExitOk to go on and print.
    std::function<int(UserPreferences&, const QStringList&, Io&)> run;
};

// A sub-command that turns a switch on or off: "true" or "false", nothing else.
SubCommand switchCommand(const char* name, void (UserPreferences::*set)(bool)) {
    return {name, 1, 1, "true|false",
            [name, set](UserPreferences& prefs, const QStringList& args, Io& io) {
                const auto on = boolArg(args.at(0));
                if (!on)
                    return usageError(io, QStringLiteral("%1: expected true or false, not '%2'")
                                              .arg(QLatin1String(name), args.at(0)));
                (prefs.*set)(*on);
                return ExitOk;
            }};
}

const QList<SubCommand>& subCommands() {
    static const QList<SubCommand> list{
        {"add-symbol", 1, 1, "TEXT",
         [](UserPreferences& prefs, const QStringList& args, Io& io) {
             if (const auto symbol = symbolArg(args.at(0))) {
                 if (const auto problem = tooLong(*symbol)) {
                     io.err << "vellinectl prefs add-symbol: nothing added, " << *problem << "\n";
                     return ExitFailed;
                 }
             }
             const auto symbol = prefs.addSymbol(args.at(0));
             if (!symbol) {
                 io.err << "vellinectl prefs add-symbol: nothing to add, the text is blank\n";
                 return ExitFailed;
             }
             printJson(io, QJsonObject{{"symbol", *symbol}});
             return ExitOk;
         }},
        {"set-tracked", 1, -1, "SYMBOL [SYMBOL...]",
         [](UserPreferences& prefs, const QStringList& args, Io& io) {
             for (const QString& arg : args) {
                 if (const auto problem =
                         tooLong(velline::normalizeSymbol(arg), prefs.trackedSymbols()))
                     return usageError(io, QStringLiteral("set-tracked: ") + *problem);
             }
             prefs.setTrackedSymbols(args);
             return ExitOk;
         }},
        {"set-holding", 2, 2, "SYMBOL SHARES",
         [](UserPreferences& prefs, const QStringList& args, Io& io) {
             const auto symbol = symbolArg(args.at(0));
             if (!symbol)
                 return usageError(io, QStringLiteral("set-holding: the symbol is blank"));
             if (const auto problem = tooLong(*symbol, heldSymbols(prefs)))
                 return usageError(io, QStringLiteral("set-holding: ") + *problem);
             const auto shares = numberArg(args.at(1));
             if (!shares)
                 return usageError(io, QStringLiteral("set-holding: SHARES must be a finite "
                                                      "number, not '%1'")
                                           .arg(args.at(1)));
             prefs.setHolding(*symbol, *shares);
             return ExitOk;
         }},
        {"remove-holding", 1, 1, "SYMBOL",
         [](UserPreferences& prefs, const QStringList& args, Io& io) {
             const auto symbol = symbolArg(args.at(0));
             if (!symbol)
                 return usageError(io, QStringLiteral("remove-holding: the symbol is blank"));
             prefs.removeHolding(*symbol);
             return ExitOk;
         }},
        {"add-alert", 3, 3, "SYMBOL PRICE above|below",
         [](UserPreferences& prefs, const QStringList& args, Io& io) {
             const auto symbol = symbolArg(args.at(0));
             if (!symbol)
                 return usageError(io, QStringLiteral("add-alert: the symbol is blank"));
             if (const auto problem = tooLong(*symbol))
                 return usageError(io, QStringLiteral("add-alert: ") + *problem);
             const auto price = numberArg(args.at(1));
             if (!price || *price <= 0)
                 return usageError(io, QStringLiteral("add-alert: PRICE must be a finite "
                                                      "number above 0, not '%1'")
                                           .arg(args.at(1)));
             const auto direction = PriceAlert::directionFromRawValue(args.at(2));
             if (!direction)
                 return usageError(io, QStringLiteral("add-alert: the direction must be "
                                                      "'above' or 'below', not '%1'")
                                           .arg(args.at(2)));
             prefs.addAlert(*symbol, *price, *direction);
             return ExitOk;
         }},
        {"remove-alert", 1, 1, "UUID",
         [](UserPreferences& prefs, const QStringList& args, Io& io) {
             const QString text = args.at(0).trimmed();
             const QUuid id = QUuid::fromString(text);
             if (id.isNull() && text != QLatin1String("00000000-0000-0000-0000-000000000000"))
                 return usageError(
                     io, QStringLiteral("remove-alert: '%1' is not a UUID").arg(args.at(0)));
             prefs.removeAlert(id);
             return ExitOk;
         }},
        {"set-display-mode", 1, 1, "RAW",
         [](UserPreferences& prefs, const QStringList& args, Io& io) {
             const auto mode = velline::displayModeFromRawValue(args.at(0));
             if (!mode) {
                 QStringList names;
                 for (velline::DisplayMode m : velline::allDisplayModes)
                     names.append(velline::rawValue(m));
                 return usageError(io, QStringLiteral("set-display-mode: '%1' is not one of %2")
                                           .arg(args.at(0), names.join(QStringLiteral(", "))));
             }
             prefs.setDisplayMode(*mode);
             return ExitOk;
         }},
        switchCommand("set-futures", &UserPreferences::setShowFuturesAfterHours),
        switchCommand("set-notifications", &UserPreferences::setDesktopNotifications),
    };
    return list;
}

int runPrefs(const QStringList& args, Io& io) {
    const SubCommand* sub = nullptr;
    if (!args.isEmpty()) {
        for (const SubCommand& candidate : subCommands()) {
            if (args.first() == QLatin1String(candidate.name))
                sub = &candidate;
        }
        if (!sub)
            return usageError(io, QStringLiteral("unknown sub-command '%1'").arg(args.first()));
        const qsizetype n = args.size() - 1;
        if (n < sub->minArgs || (sub->maxArgs >= 0 && n > sub->maxArgs))
            return usageError(io,
                              QStringLiteral("%1 takes %2")
                                  .arg(QLatin1String(sub->name), QLatin1String(sub->arguments)));
    }

    // A fresh object on the user's settings file, exactly as the app loads it at start-up.
    const std::unique_ptr<QSettings> settings = UserPreferences::openDefaultStore();
    UserPreferences prefs(settings.get());
    if (sub) {
        const int rc = sub->run(prefs, args.mid(1), io);
        if (rc != ExitOk)
            return rc;
        if (settings->status() == QSettings::AccessError) {
            io.err << "vellinectl prefs: could not write " << settings->fileName() << "\n";
            return ExitFailed;
        }
    }
    printJson(io, stateJson(prefs));
    return ExitOk;
}

const bool registered = registerCommand({QStringLiteral("prefs"),
                                         QStringLiteral("show or change the stored preferences"),
                                         QString::fromLatin1(kUsage), runPrefs});

} // namespace

} // namespace vellinectl
