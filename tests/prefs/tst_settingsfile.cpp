// The settings file as a file: private, replaced atomically (a writer killed at any moment
// leaves a whole file behind), and changes made by other processes picked up while running.
#include "clock/manualclock.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/stat.h>

using namespace velline;

namespace {

// Generation g stores g % 7 + 1 holdings, each of symbol "G<g>" and g shares, and the same
// count of tracked symbols; a reader can tell a whole generation from a torn one.
QList<Holding> holdingsOf(int g) {
    QList<Holding> list;
    for (int i = 0; i <= g % 7; ++i)
        list.append(Holding{QStringLiteral("G%1").arg(g), static_cast<double>(g)});
    return list;
}

QStringList trackedOf(int g) {
    QStringList list;
    for (int i = 0; i <= g % 7; ++i)
        list.append(QStringLiteral("S%1X%2").arg(g).arg(i));
    return list;
}

// Child process modes (the test runs its own executable as "another program").
int runChild(const QStringList& args) {
    QSettings settings(args.at(2), QSettings::IniFormat);
    UserPreferences prefs(&settings);
    if (args.at(1) == QLatin1String("--writer")) {
        // Rewrites the file for ever, one generation after another.
        QTextStream out(stdout);
        for (int g = args.at(3).toInt();; ++g) {
            prefs.setHoldings(holdingsOf(g));
            prefs.setTrackedSymbols(trackedOf(g));
            out << "wrote " << g << Qt::endl;
        }
    }
    prefs.setHolding(args.at(3), args.at(4).toDouble()); // --set-holding
    return 0;
}

int modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

} // namespace

class TestSettingsFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theFileIsPrivateFromItsFirstWrite() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sub/Velline.ini"));
        {
            QSettings settings(path, QSettings::IniFormat);
            UserPreferences prefs(&settings);
            prefs.setHolding(QStringLiteral("AAPL"), 3);
            QCOMPARE(modeOf(path), 0600);
        }
        // A file an older version left readable to its group or to everyone is closed on the
        // next write.
        for (const auto others : {QFile::ReadGroup, QFile::ReadOther}) {
            const QString old = dir.filePath(QStringLiteral("old-%1.ini").arg(int(others)));
            QFile f(old);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("[General]\ndisplayMode_v1=compact\n");
            f.close();
            QVERIFY(QFile::setPermissions(old, QFile::ReadOwner | QFile::WriteOwner | others));
            QSettings settings(old, QSettings::IniFormat);
            UserPreferences prefs(&settings);
            QCOMPARE(prefs.displayModeRaw(), QStringLiteral("compact"));
            prefs.setShowFuturesAfterHours(false);
            QCOMPARE(modeOf(old), 0600);
        }
    }

    void aWriterKilledAtAnyMomentLeavesAWholeFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Velline.ini"));
        int lastSeen = -1;
        int generation = 0;
        const int rounds = 25;
        for (int round = 0; round < rounds; ++round) {
            QProcess writer;
            writer.setProcessChannelMode(QProcess::SeparateChannels);
            writer.start(QCoreApplication::applicationFilePath(),
                         {QStringLiteral("--writer"), path, QString::number(generation)});
            QVERIFY(writer.waitForStarted(10000));
            // Let it get some writes done, then kill it somewhere in the middle of one.
            QVERIFY2(writer.waitForReadyRead(20000), qPrintable(writer.readAllStandardError()));
            QThread::usleep(QRandomGenerator::global()->bounded(1000, 15000));
            writer.kill();
            QVERIFY(writer.waitForFinished(10000));
            for (const QByteArray& line : writer.readAllStandardOutput().split('\n'))
                if (line.startsWith("wrote "))
                    generation = std::max(generation, line.mid(6).toInt() + 1);

            QVERIFY2(QFile::exists(path), "the file vanished");
            QCOMPARE(modeOf(path), 0600);
            // Read the way a fresh start would (QSettings caches parsed files per path within a
            // process, so a copy under a new name is read).
            const QString copy = dir.filePath(QStringLiteral("read-%1.ini").arg(round));
            QVERIFY(QFile::copy(path, copy));
            QSettings copied(copy, QSettings::IniFormat);
            const auto read = std::make_unique<UserPreferences>(&copied);
            const QList<Holding> holdings = read->holdings();
            QVERIFY2(!holdings.isEmpty(), "holdings did not decode: the file is torn");
            const int g = static_cast<int>(holdings.first().shares);
            QCOMPARE(holdings, holdingsOf(g));
            // Tracked symbols are written after the holdings: the same generation or the one
            // before it.
            const QStringList tracked = read->trackedSymbols();
            QVERIFY2(tracked == trackedOf(g) || tracked == trackedOf(g - 1),
                     qPrintable(tracked.join(',')));
            QVERIFY(g >= lastSeen);
            lastSeen = g;
        }
        QVERIFY(lastSeen > 0);
        // Temporary copies a killed writer left behind are cleared once they are old (one is
        // made here, in case no kill fell inside a write).
        QVERIFY(QFile(path + QStringLiteral(".Ab12Cd")).open(QIODevice::WriteOnly));
        const QDateTime old = QDateTime::currentDateTimeUtc().addSecs(-120);
        for (const QString& name :
             QDir(dir.path()).entryList({QStringLiteral("Velline.ini.??????")}, QDir::Files)) {
            QFile copy(dir.filePath(name));
            QVERIFY(copy.open(QIODevice::ReadWrite));
            QVERIFY(copy.setFileTime(old, QFileDevice::FileModificationTime));
        }
        QSettings settings(path, QSettings::IniFormat);
        UserPreferences prefs(&settings);
        prefs.setShowFuturesAfterHours(false);
        const QStringList left =
            QDir(dir.path()).entryList({QStringLiteral("Velline.ini*")}, QDir::Files);
        QVERIFY2(left.size() <= 2, qPrintable(left.join(' '))); // the file and perhaps its lock
    }

    // The running state picks up a change another program made within two seconds, without
    // undoing its own.
    void changesFromOtherProgramsShowWithoutUndoingOurOwn() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Velline.ini"));
        QSettings settings(path, QSettings::IniFormat);
        UserPreferences prefs(&settings);
        prefs.setTrackedSymbols({"AAPL"});
        QVERIFY(!prefs.reloadIfChanged());
        struct Silent : QuoteSource {
            void fetchQuotes(const QStringList&, QObject*,
                             std::function<void(QList<Quote>)>) override {}
        } source;
        ManualClock clock(1704898800);
        AppState state(&prefs, &source, &clock, {});
        state.start();
        clock.advance(0.5);
        // vellinectl (another process, through the same preference rules) adds a holding, and
        // meanwhile the app changes something of its own.
        QCOMPARE(QProcess::execute(QCoreApplication::applicationFilePath(),
                                   {"--set-holding", path, "nvda", "12.5"}),
                 0);
        prefs.setDisplayModeRaw(QStringLiteral("compact"));
        QSignalSpy holdings(&prefs, &UserPreferences::holdingsChanged);
        QSignalSpy mode(&prefs, &UserPreferences::displayModeChanged);
        QSignalSpy tracked(&prefs, &UserPreferences::trackedSymbolsChanged);
        clock.advance(1.499);
        QVERIFY(prefs.holdings().isEmpty());
        clock.advance(0.001); // the tick two seconds after start
        QCOMPARE(prefs.holdings(), (QList<Holding>{{"NVDA", 12.5}}));
        QCOMPARE(prefs.displayModeRaw(), QStringLiteral("compact"));
        QCOMPARE(holdings.size(), 1);
        QCOMPARE(mode.size() + tracked.size(), 0);
        QVERIFY(!prefs.reloadIfChanged());

        // An edit by hand, replacing the file.
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QSaveFile edit(path);
        QVERIFY(edit.open(QIODevice::WriteOnly));
        edit.write(f.readAll().replace("displayMode_v1=compact", "displayMode_v1=doNotDisturb"));
        QVERIFY(edit.commit());
        QVERIFY(prefs.reloadIfChanged());
        QCOMPARE(prefs.displayModeRaw(), QStringLiteral("doNotDisturb"));
        QCOMPARE(mode.size(), 1);
        QCOMPARE(prefs.holdings().size(), 1);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() > 2 && args.at(1).startsWith(QLatin1String("--")) &&
        args.at(1) != QLatin1String("--help"))
        return runChild(args);
    TestSettingsFile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingsfile.moc"
