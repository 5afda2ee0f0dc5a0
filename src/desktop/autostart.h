#pragma once

#include <QString>

// Starting Velline when the user logs in: one XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/<application id>.desktop. Its existence is the setting.
namespace velline::autostart {

// Where the entry lives.
QString entryPath();

// The Exec value that runs `executable` (an absolute path) with no arguments: the path alone
// when it needs no quoting, else in double quotes with ", `, $ and \ escaped; then every \ and %
// doubled as a desktop-entry string requires.
QString execValue(const QString& executable);

// The whole entry for `executable`.
QString entryText(const QString& executable);

bool isEnabled();

// Writes the entry (atomically, creating the folder) or removes it. False, with `error` set
// when given, when the file system refuses; removing an absent entry succeeds.
bool enable(const QString& executable, QString* error = nullptr);
bool disable(QString* error = nullptr);

} // namespace velline::autostart
