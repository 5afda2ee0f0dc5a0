#include "market/stock.h"

#include <QTest>

using velline::PricePoint;
using velline::Stock;
using Direction = velline::Stock::Direction;

namespace {
Stock stock(double price = 1, double previousClose = 1) {
    Stock s;
    s.symbol = QStringLiteral("AAPL");
    s.price = price;
    s.previousClose = previousClose;
    return s;
}

// Bars 300 s apart with the given prices (volume 0) or volumes (price 10).
QList<PricePoint> prices(std::initializer_list<double> values) {
    QList<PricePoint> out;
    for (double v : values)
        out.append({out.size() * 300.0, v, 0});
    return out;
}
QList<PricePoint> volumes(std::initializer_list<double> values) {
    QList<PricePoint> out;
    for (double v : values)
        out.append({out.size() * 300.0, 10, v});
    return out;
}
} // namespace

class TestStock : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void changeDirectionAndText_data() {
        QTest::addColumn<double>("price");
        QTest::addColumn<double>("previousClose");
        QTest::addColumn<Direction>("direction");
        QTest::addColumn<QString>("text");
        QTest::newRow("up") << 101.234 << 100.0 << Direction::up << "+1.23%";
        QTest::newRow("down") << 99.5 << 100.0 << Direction::down << "-0.50%";
        QTest::newRow("unchanged") << 100.0 << 100.0 << Direction::flat << "0.00%";
        QTest::newRow("zero close") << 187.5 << 0.0 << Direction::flat << "0.00%";
        // The flat band is +-0.05 percentage points, inclusive; no plain sign test.
        QTest::newRow("+0.05 exactly") << 1000.5 << 1000.0 << Direction::flat << "+0.05%";
        QTest::newRow("-0.05 exactly") << 999.5 << 1000.0 << Direction::flat << "-0.05%";
        QTest::newRow("+0.0501") << 10005.01 << 10000.0 << Direction::up << "+0.05%";
        QTest::newRow("-0.0501") << 9994.99 << 10000.0 << Direction::down << "-0.05%";
    }
    void changeDirectionAndText() {
        QFETCH(double, price);
        QFETCH(double, previousClose);
        QFETCH(Direction, direction);
        QFETCH(QString, text);
        const Stock s = stock(price, previousClose);
        QCOMPARE(s.direction(), direction);
        QCOMPARE(s.percentText(), text);
    }

    void spikingHoldsForLessThanFourSeconds() {
        Stock s = stock();
        QVERIFY(!s.isSpiking(1000));
        s.lastSpikeAt = 1000.0;
        QVERIFY(s.isSpiking(1000) && s.isSpiking(1003.9));
        QVERIFY(!s.isSpiking(1004.0));
    }

    void windowAndTickChanges() {
        Stock s = stock();
        QCOMPARE(s.windowChangePercent(), 0.0);
        s.history = {{50, 120, 0}};
        QCOMPARE(s.windowChangePercent(), 0.0);
        // 400 - 0 > 300, so the reference is the sample at 100.
        s.history = {{0, 100, 0}, {100, 101, 0}, {400, 102, 0}};
        QCOMPARE(s.windowChangePercent(), (102.0 - 101.0) / 101.0 * 100);
        s.history = {{0, 100, 0}, {300, 103, 0}}; // exactly 300 s back still counts
        QCOMPARE(s.windowChangePercent(), 3.0);
        s.history = {{0, 0, 0}, {10, 103, 0}}; // no division by a zero reference
        QCOMPARE(s.windowChangePercent(), 0.0);

        s.history = {{0, 100, 0}, {60, 102, 0}};
        s.intraday = prices({50}); // one bar: falls back to the history
        QCOMPARE(s.tickChangePercent(), 2.0);
        s.intraday = prices({80, 100, 99});
        QCOMPARE(s.tickChangePercent(), -1.0);
        s.intraday = prices({80, 0, 99});
        QCOMPARE(s.tickChangePercent(), 2.0);
    }

    void volumeRatioAndSpikeBars() {
        Stock s = stock();
        s.intraday = volumes({100, 100, 100});
        QCOMPARE(s.volumeRatio(), 0.0);
        s.intraday = volumes({0, 500, 500, 500});
        QCOMPARE(s.volumeRatio(), 0.0);
        // earlier: (100 + 300) / 2 = 200; recent: (300 + 300 + 600) / 3 = 400.
        s.intraday = volumes({100, 300, 300, 300, 600});
        QCOMPARE(s.volumeRatio(), 2.0);

        s.intraday = prices({100});
        QVERIFY(s.spikeIndices().isEmpty());
        s.intraday = prices({100, 100.4, 100.4});
        QCOMPARE(s.spikeIndices(), QList<int>{1});
        // 1: +0.39 no; 2: about -0.49 yes; 3: -100 yes; 4: previous 0 skipped; 5: +0.2 no.
        s.intraday = prices({100, 100.39, 99.9, 0, 5, 5.01});
        QCOMPARE(s.spikeIndices(), (QList<int>{2, 3}));
    }

    void equalityTellsAnEmptyTagFromNone() {
        Stock a = stock(101, 100);
        a.intraday = prices({3});
        Stock b = a;
        QCOMPARE(a, b);
        b.contextTag = QString();
        QVERIFY(a != b);
        b = a;
        b.intraday[0] = {0, 3, 1};
        QVERIFY(a != b);
    }
};

QTEST_GUILESS_MAIN(TestStock)
#include "tst_stock.moc"
