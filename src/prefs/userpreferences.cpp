#include "prefs/userpreferences.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJSEngine>
#include <QJsonDocument>

#include <cmath>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velline {

namespace {

bool isTrimmable(QChar c) {
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

// A stored string list. QSettings' IniFormat gives back a QVariantList of strings for two or
// more entries, a plain string for one, and an invalid value for an empty list (written as
// @Invalid()); before the file is re-read the in-memory QStringList comes back as written.
std::optional<QStringList> readStringList(const QSettings& settings, const QString& key) {
    if (!settings.contains(key))
        return std::nullopt;
    const QVariant v = settings.value(key);
    if (!v.isValid())
        return QStringList();
    switch (v.typeId()) {
    case QMetaType::QStringList:
        return v.toStringList();
    case QMetaType::QString: {
        const QString s = v.toString();
        return s.isEmpty() ? QStringList() : QStringList{s};
    }
    case QMetaType::QVariantList: {
        QStringList list;
        for (const QVariant& element : v.toList()) {
            if (element.typeId() != QMetaType::QString)
                return std::nullopt;
            list.append(element.toString());
        }
        return list;
    }
    default:
        return std::nullopt;
    }
}

// A stored JSON blob: a QByteArray value holding a JSON array or object.
std::optional<QJsonValue> readJsonBlob(const QSettings& settings, const QString& key) {
    const QVariant v = settings.value(key);
    if (v.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(v.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError)
        return std::nullopt;
    if (doc.isArray())
        return QJsonValue(doc.array());
    return QJsonValue(doc.object());
}

QByteArray jsonBytes(const QJsonValue& value) {
    const QJsonDocument doc =
        value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    return doc.toJson(QJsonDocument::Compact);
}

std::optional<bool> readBool(const QSettings& settings, const QString& key) {
    const QVariant v = settings.value(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString();
        if (s == QLatin1String("true"))
            return true;
        if (s == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

QStringList cleanedSymbols(const QStringList& symbols) {
    QStringList cleaned;
    cleaned.reserve(symbols.size());
    for (const QString& raw : symbols) {
        const QString s = normalizeSymbol(raw);
        if (!s.isEmpty() && !cleaned.contains(s))
            cleaned.append(s);
    }
    return cleaned;
}

} // namespace

QString normalizeSymbol(const QString& text) {
    const QString upper = text.toUpper();
    qsizetype begin = 0;
    qsizetype end = upper.size();
    while (begin < end && isTrimmable(upper.at(begin)))
        ++begin;
    while (end > begin && isTrimmable(upper.at(end - 1)))
        --end;
    return upper.sliced(begin, end - begin);
}

bool isUsableNewSymbol(const QString& symbol) {
    return !symbol.isEmpty() && symbol.size() <= kMaxSymbolLength;
}

const QString UserPreferences::kTrackedSymbolsKey = QStringLiteral("trackedSymbols_v2");
const QString UserPreferences::kPriceAlertsKey = QStringLiteral("priceAlerts_v1");
const QString UserPreferences::kHoldingsKey = QStringLiteral("holdings_v1");
const QString UserPreferences::kRecentlyAddedKey = QStringLiteral("recentlyAdded_v1");
const QString UserPreferences::kDisplayModeKey = QStringLiteral("displayMode_v1");
const QString UserPreferences::kShowFuturesAfterHoursKey =
    QStringLiteral("showFuturesAfterHours_v1");
const QString UserPreferences::kColorSchemeKey = QStringLiteral("colorScheme_v1");
const QString UserPreferences::kDesktopNotificationsKey = QStringLiteral("desktopNotifications_v1");

const QStringList& UserPreferences::defaultTrackedSymbols() {
    static const QStringList symbols{"AVGO", "AAPL", "META", "MSFT", "^GSPC",
                                     "LMT",  "NVDA", "IBM",  "MDB",  "PLTR"};
    return symbols;
}

namespace {

const QStringList& allKeys() {
    static const QStringList keys{
        UserPreferences::kTrackedSymbolsKey, UserPreferences::kPriceAlertsKey,
        UserPreferences::kHoldingsKey,       UserPreferences::kRecentlyAddedKey,
        UserPreferences::kDisplayModeKey,    UserPreferences::kShowFuturesAfterHoursKey,
        UserPreferences::kColorSchemeKey,    UserPreferences::kDesktopNotificationsKey,
    };
    return keys;
}

// Creates the settings file empty and private before its first write, and takes group and
// other permissions away from one an older version left readable. QSettings keeps the
// permissions of the file it replaces, so this holds for every later write.
void makePrivate(const QString& path) {
    if (path.isEmpty())
        return;
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    if (::stat(native.constData(), &info) == 0) {
        if ((info.st_mode & 077) != 0)
            ::chmod(native.constData(), info.st_mode & 0700);
        return;
    }
    QFileInfo(path).absoluteDir().mkpath(QStringLiteral("."));
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
}

// QSettings guards each write with "<file>.lock", which holds the writer's process id. A
// writer killed between creating that file and filling it in leaves a lock nobody can
// identify, and every later write (on the main thread) would wait until it counts as stale,
// 30 seconds. A live writer holds a native lock on the file from the moment it makes it, so an
// empty lock that nobody holds is such a leftover.
void clearBrokenLock(const QString& path) {
    const QByteArray lock = QFile::encodeName(path + QStringLiteral(".lock"));
    const int fd = ::open(lock.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_size == 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
        ::unlink(lock.constData());
    ::close(fd);
}

// A writer killed while writing leaves its temporary copy ("<file>.XXXXXX") behind. Copies
// older than a minute belong to nobody any more.
void clearLeftoverCopies(const QString& path) {
    const QFileInfo file(path);
    const QDir dir = file.absoluteDir();
    const QString pattern = file.fileName() + QStringLiteral(".??????");
    const QDateTime cutoff = QDateTime::currentDateTimeUtc().addSecs(-60);
    for (const QFileInfo& copy : dir.entryInfoList({pattern}, QDir::Files | QDir::Hidden)) {
        if (copy.lastModified().toUTC() < cutoff)
            QFile::remove(copy.absoluteFilePath());
    }
}

} // namespace

UserPreferences::UserPreferences(QSettings* settings, QObject* parent)
    : QObject(parent), m_settings(settings) {
    m_stamp = fileStamp();
    load(allKeys());
    m_known = storedValues();
}

void UserPreferences::load(const QStringList& keys) {
    if (keys.contains(kTrackedSymbolsKey)) {
        // The tracked list is taken as stored; it is cleaned by its first assignment.
        m_trackedSymbols =
            readStringList(*m_settings, kTrackedSymbolsKey).value_or(defaultTrackedSymbols());
    }
    if (keys.contains(kPriceAlertsKey)) {
        m_priceAlerts.clear();
        if (const auto blob = readJsonBlob(*m_settings, kPriceAlertsKey))
            m_priceAlerts = decodePriceAlerts(*blob).value_or(QList<PriceAlert>());
    }
    if (keys.contains(kHoldingsKey)) {
        m_holdings.clear();
        if (const auto blob = readJsonBlob(*m_settings, kHoldingsKey))
            m_holdings = decodeHoldings(*blob).value_or(QList<Holding>());
    }
    if (keys.contains(kRecentlyAddedKey))
        m_recentlyAdded = readStringList(*m_settings, kRecentlyAddedKey).value_or(QStringList());
    if (keys.contains(kDisplayModeKey)) {
        m_displayMode = DisplayMode::regular;
        const QVariant mode = m_settings->value(kDisplayModeKey);
        if (mode.typeId() == QMetaType::QString)
            m_displayMode = displayModeFromRawValue(mode.toString()).value_or(DisplayMode::regular);
    }
    if (keys.contains(kShowFuturesAfterHoursKey))
        m_showFuturesAfterHours = readBool(*m_settings, kShowFuturesAfterHoursKey).value_or(true);
    if (keys.contains(kColorSchemeKey)) {
        m_colorScheme = ColorSchemePrefs();
        if (const auto blob = readJsonBlob(*m_settings, kColorSchemeKey))
            m_colorScheme = ColorSchemePrefs::fromJson(*blob).value_or(ColorSchemePrefs());
    }
    if (keys.contains(kDesktopNotificationsKey))
        m_desktopNotifications = readBool(*m_settings, kDesktopNotificationsKey).value_or(false);
}

QHash<QString, QByteArray> UserPreferences::storedValues() const {
    QHash<QString, QByteArray> values;
    for (const QString& key : allKeys())
        values.insert(key, storedForm(key));
    return values;
}

QByteArray UserPreferences::storedForm(const QString& key) const {
    // The same stored value reads back as another QVariant type once the file has been
    // re-read (a list as a string or a variant list, a bool as text), so values are compared
    // in the form the loader sees them.
    if (!m_settings->contains(key))
        return QByteArrayLiteral("-");
    if (key == kTrackedSymbolsKey || key == kRecentlyAddedKey) {
        const auto list = readStringList(*m_settings, key);
        return list ? "L" + list->join(QChar(0x1f)).toUtf8() : QByteArrayLiteral("?");
    }
    if (key == kShowFuturesAfterHoursKey || key == kDesktopNotificationsKey) {
        const auto flag = readBool(*m_settings, key);
        return flag ? (*flag ? QByteArrayLiteral("T") : QByteArrayLiteral("F"))
                    : QByteArrayLiteral("?");
    }
    const QVariant v = m_settings->value(key);
    if (v.typeId() == QMetaType::QByteArray)
        return "B" + v.toByteArray();
    if (v.typeId() == QMetaType::QString)
        return "S" + v.toString().toUtf8();
    return "?" + QByteArray(v.typeName() ? v.typeName() : "");
}

QByteArray UserPreferences::fileStamp() const {
    struct stat info {};
    if (::stat(QFile::encodeName(m_settings->fileName()).constData(), &info) != 0)
        return QByteArrayLiteral("absent");
    // A replaced file has a new inode; an edited one a new time or size.
    return QByteArray::number(static_cast<qulonglong>(info.st_ino)) + ':' +
           QByteArray::number(static_cast<qlonglong>(info.st_size)) + ':' +
           QByteArray::number(static_cast<qlonglong>(info.st_mtim.tv_sec)) + '.' +
           QByteArray::number(static_cast<qlonglong>(info.st_mtim.tv_nsec));
}

bool UserPreferences::reloadIfChanged() {
    const QByteArray stamp = fileStamp();
    if (stamp == m_stamp)
        return false;
    m_stamp = stamp;
    // sync() writes nothing here (every change of ours is already written) and re-reads the
    // file when it changed on disk.
    m_settings->sync();
    const QHash<QString, QByteArray> now = storedValues();
    QStringList changed;
    for (const QString& key : allKeys()) {
        if (now.value(key) != m_known.value(key))
            changed.append(key);
    }
    m_known = now;
    if (changed.isEmpty())
        return false;
    load(changed);
    // Taken over as stored, without writing back; observers hear of each changed property.
    if (changed.contains(kTrackedSymbolsKey))
        Q_EMIT trackedSymbolsChanged();
    if (changed.contains(kPriceAlertsKey))
        Q_EMIT priceAlertsChanged();
    if (changed.contains(kHoldingsKey))
        Q_EMIT holdingsChanged();
    if (changed.contains(kRecentlyAddedKey))
        Q_EMIT recentlyAddedChanged();
    if (changed.contains(kDisplayModeKey))
        Q_EMIT displayModeChanged();
    if (changed.contains(kShowFuturesAfterHoursKey))
        Q_EMIT showFuturesAfterHoursChanged();
    if (changed.contains(kColorSchemeKey))
        Q_EMIT colorSchemeChanged();
    if (changed.contains(kDesktopNotificationsKey))
        Q_EMIT desktopNotificationsChanged();
    return true;
}

UserPreferences& UserPreferences::shared() {
    // Deliberately never destroyed: every change is already on disk, and views may still hold
    // the object while the process exits.
    static UserPreferences* instance = new UserPreferences(openDefaultStore().release());
    return *instance;
}

std::unique_ptr<QSettings> UserPreferences::openDefaultStore() {
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Velline"), QStringLiteral("Velline"));
}

UserPreferences* UserPreferences::create(QQmlEngine*, QJSEngine*) {
    UserPreferences* instance = &shared();
    QJSEngine::setObjectOwnership(instance, QJSEngine::CppOwnership);
    return instance;
}

// Assignments

void UserPreferences::setTrackedSymbols(const QStringList& symbols) {
    m_trackedSymbols = symbols;
    Q_EMIT trackedSymbolsChanged();
    persistTrackedSymbols();
}

void UserPreferences::setPriceAlerts(const QList<PriceAlert>& alerts) {
    m_priceAlerts = alerts;
    Q_EMIT priceAlertsChanged();
    persistPriceAlerts();
}

void UserPreferences::setHoldings(const QList<Holding>& holdings) {
    m_holdings = holdings;
    Q_EMIT holdingsChanged();
    persistHoldings();
}

void UserPreferences::setRecentlyAdded(const QStringList& symbols) {
    m_recentlyAdded = symbols;
    Q_EMIT recentlyAddedChanged();
    persistRecentlyAdded();
}

void UserPreferences::setDisplayMode(DisplayMode mode) {
    m_displayMode = mode;
    Q_EMIT displayModeChanged();
    persistDisplayMode();
}

void UserPreferences::setDisplayModeRaw(const QString& raw) {
    if (const auto mode = displayModeFromRawValue(raw))
        setDisplayMode(*mode);
}

void UserPreferences::setShowFuturesAfterHours(bool show) {
    m_showFuturesAfterHours = show;
    Q_EMIT showFuturesAfterHoursChanged();
    persistShowFuturesAfterHours();
}

void UserPreferences::setDesktopNotifications(bool on) {
    m_desktopNotifications = on;
    Q_EMIT desktopNotificationsChanged();
    persistDesktopNotifications();
}

void UserPreferences::setColorScheme(const ColorSchemePrefs& scheme) {
    m_colorScheme = scheme;
    Q_EMIT colorSchemeChanged();
    persistColorScheme();
}

// Operations

std::optional<QString> UserPreferences::addSymbol(const QString& text) {
    const QString symbol = normalizeSymbol(text);
    if (!isUsableNewSymbol(symbol))
        return std::nullopt;
    if (!m_trackedSymbols.contains(symbol))
        setTrackedSymbols(m_trackedSymbols + QStringList{symbol});
    QStringList recents = m_recentlyAdded;
    recents.removeAll(symbol);
    recents.prepend(symbol);
    if (recents.size() > kMaxRecentlyAdded)
        recents.resize(kMaxRecentlyAdded);
    setRecentlyAdded(recents);
    return symbol;
}

void UserPreferences::setHolding(const QString& symbol, double shares) {
    const QString s = normalizeSymbol(symbol);
    // A NaN or infinite count could never be encoded, and the whole holdings list would stop
    // being written from then on; it is refused like any other invalid input.
    if (s.isEmpty() || !std::isfinite(shares))
        return;
    if (shares <= 0) {
        removeHolding(s);
        return;
    }
    QList<Holding> holdings = m_holdings;
    const auto it = std::find_if(holdings.begin(), holdings.end(),
                                 [&](const Holding& h) { return h.symbol == s; });
    if (it != holdings.end())
        it->shares = shares;
    else if (isUsableNewSymbol(s))
        holdings.append(Holding{s, shares});
    else
        return;
    setHoldings(holdings);
}

void UserPreferences::removeHolding(const QString& symbol) {
    const QString s = normalizeSymbol(symbol);
    if (s.isEmpty())
        return;
    QList<Holding> holdings = m_holdings;
    holdings.removeIf([&](const Holding& h) { return h.symbol == s; });
    setHoldings(holdings);
}

std::optional<QUuid> UserPreferences::addAlert(const QString& symbol, double price,
                                               PriceAlert::Direction direction) {
    const QString s = normalizeSymbol(symbol);
    // `price > 0` is false for NaN; an infinite level is refused as well, since it could never
    // be stored and would stop the whole alerts list from being written.
    if (!isUsableNewSymbol(s) || !(price > 0) || !std::isfinite(price))
        return std::nullopt;
    PriceAlert alert{QUuid::createUuid(), s, price, direction, std::nullopt};
    setPriceAlerts(m_priceAlerts + QList<PriceAlert>{alert});
    return alert.id;
}

void UserPreferences::removeAlert(const QUuid& id) {
    QList<PriceAlert> alerts = m_priceAlerts;
    if (alerts.removeIf([&](const PriceAlert& a) { return a.id == id; }) == 0)
        return;
    setPriceAlerts(alerts);
}

void UserPreferences::markAlertTriggered(const QUuid& id, double at) {
    if (!std::isfinite(at))
        return;
    QList<PriceAlert> alerts = m_priceAlerts;
    const auto it =
        std::find_if(alerts.begin(), alerts.end(), [&](const PriceAlert& a) { return a.id == id; });
    if (it == alerts.end())
        return;
    it->lastTriggered = at;
    setPriceAlerts(alerts);
}

// Persist steps

void UserPreferences::store(const QString& key, const QVariant& value) {
    makePrivate(m_settings->fileName());
    clearBrokenLock(m_settings->fileName());
    if (!m_leftoversCleared) {
        m_leftoversCleared = true;
        clearLeftoverCopies(m_settings->fileName());
    }
    m_settings->setValue(key, value);
    m_settings->sync();
    // What this object wrote is known; a later outside change is measured against it.
    m_known.insert(key, storedForm(key));
}

void UserPreferences::persistTrackedSymbols() {
    const QStringList cleaned = cleanedSymbols(m_trackedSymbols);
    if (cleaned == m_trackedSymbols)
        store(kTrackedSymbolsKey, cleaned);
    else
        setTrackedSymbols(cleaned); // publishes the cleaned list, then stores it
}

void UserPreferences::persistPriceAlerts() {
    // A list that cannot be encoded is not written; the in-memory value stays as assigned.
    if (const auto json = encodePriceAlerts(m_priceAlerts))
        store(kPriceAlertsKey, jsonBytes(*json));
}

void UserPreferences::persistHoldings() {
    if (const auto json = encodeHoldings(m_holdings))
        store(kHoldingsKey, jsonBytes(*json));
}

void UserPreferences::persistRecentlyAdded() {
    store(kRecentlyAddedKey, m_recentlyAdded);
}

void UserPreferences::persistDisplayMode() {
    store(kDisplayModeKey, rawValue(m_displayMode));
}

void UserPreferences::persistShowFuturesAfterHours() {
    store(kShowFuturesAfterHoursKey, m_showFuturesAfterHours);
}

void UserPreferences::persistDesktopNotifications() {
    store(kDesktopNotificationsKey, m_desktopNotifications);
}

void UserPreferences::persistColorScheme() {
    if (const auto json = m_colorScheme.toJson())
        store(kColorSchemeKey, jsonBytes(*json));
}

} // namespace velline
