#include "market/stock.h"

#include <QMetaProperty>
#include <QTest>

using velline::PricePoint;
using velline::Stock;
using Direction = velline::Stock::Direction;

namespace {
Stock quoted(double price, double previousClose) {
    Stock s;
    s.symbol = QStringLiteral("AAPL");
    s.price = price;
    s.previousClose = previousClose;
    return s;
}

QList<PricePoint> bars(std::initializer_list<double> prices, double start = 0) {
    QList<PricePoint> out;
    double t = start;
    for (double p : prices) {
        out.append({t, p, 0});
        t += 300;
    }
    return out;
}
} // namespace

class TestStock : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void changeDirectionAndTextAgainstPreviousClose_data() {
        QTest::addColumn<double>("price");
        QTest::addColumn<double>("previousClose");
        QTest::addColumn<double>("change");
        QTest::addColumn<Direction>("direction");
        QTest::addColumn<QString>("text");
        QTest::newRow("up") << 101.234 << 100.0 << 1.234 << Direction::up << "+1.23%";
        QTest::newRow("down") << 99.5 << 100.0 << -0.5 << Direction::down << "-0.50%";
        QTest::newRow("unchanged") << 100.0 << 100.0 << 0.0 << Direction::flat << "0.00%";
        QTest::newRow("zero close") << 187.5 << 0.0 << 0.0 << Direction::flat << "0.00%";
        QTest::newRow("negative close") << 5.0 << -2.0 << 0.0 << Direction::flat << "0.00%";
        // The flat band is +-0.05 percentage points, inclusive at both ends.
        QTest::newRow("+0.05 exactly") << 1000.5 << 1000.0 << 0.05 << Direction::flat << "+0.05%";
        QTest::newRow("-0.05 exactly") << 999.5 << 1000.0 << -0.05 << Direction::flat << "-0.05%";
        QTest::newRow("just above band")
            << 10000.0 + 5.01 << 10000.0 << 0.0501 << Direction::up << "+0.05%";
        QTest::newRow("just below band")
            << 10000.0 - 5.01 << 10000.0 << -0.0501 << Direction::down << "-0.05%";
        // A plain sign test would call these up / down.
        QTest::newRow("tiny rise is flat")
            << 100.01 << 100.0 << 0.01 << Direction::flat << "+0.01%";
        QTest::newRow("tiny fall is flat")
            << 99.99 << 100.0 << -0.01 << Direction::flat << "-0.01%";
    }
    void changeDirectionAndTextAgainstPreviousClose() {
        QFETCH(double, price);
        QFETCH(double, previousClose);
        QFETCH(double, change);
        QFETCH(Direction, direction);
        QFETCH(QString, text);
        const Stock s = quoted(price, previousClose);
        QVERIFY2(qAbs(s.changePercent() - change) < 1e-9,
                 qPrintable(QString::number(s.changePercent())));
        QCOMPARE(s.direction(), direction);
        QCOMPARE(s.percentText(), text);
    }

    void spikingHoldsForLessThanFourSeconds() {
        Stock s = quoted(1, 1);
        QVERIFY(!s.isSpiking(1000));
        s.lastSpikeAt = 1000.0;
        QVERIFY(s.isSpiking(1000));
        QVERIFY(s.isSpiking(1003.9));
        QVERIFY(!s.isSpiking(1004.0));
        QVERIFY(!s.isSpiking(1060));
    }

    void windowChangeUsesOldestSampleInsideFiveMinutes() {
        Stock s = quoted(1, 1);
        QCOMPARE(s.windowChangePercent(), 0.0);
        s.history = {{50, 120, 0}};
        QCOMPARE(s.windowChangePercent(), 0.0);
        // 400 - 0 > 300, so the reference is the sample at 100.
        s.history = {{0, 100, 0}, {100, 101, 0}, {400, 102, 0}};
        QVERIFY(qAbs(s.windowChangePercent() - 100.0 / 101.0) < 1e-9);
        // Exactly 300 s back still counts.
        s.history = {{0, 100, 0}, {300, 103, 0}};
        QVERIFY(qAbs(s.windowChangePercent() - 3.0) < 1e-9);
        // A non-positive reference price gives 0 rather than infinity.
        s.history = {{0, 0, 0}, {10, 103, 0}};
        QCOMPARE(s.windowChangePercent(), 0.0);
    }

    void tickChangeUsesLastBarOrFallsBackToHistory() {
        Stock s = quoted(1, 1);
        s.history = {{0, 100, 0}, {60, 102, 0}};
        s.intraday = bars({50});
        QVERIFY(qAbs(s.tickChangePercent() - 2.0) < 1e-9);
        s.intraday = bars({80, 100, 99});
        QVERIFY(qAbs(s.tickChangePercent() - (-1.0)) < 1e-9);
        s.intraday = bars({80, 0, 99});
        QVERIFY(qAbs(s.tickChangePercent() - 2.0) < 1e-9);
        s.intraday.clear();
        s.history.clear();
        QCOMPARE(s.tickChangePercent(), 0.0);
    }

    void volumeRatioComparesLastThreeBarsWithEarlierOnes() {
        Stock s = quoted(1, 1);
        auto withVolumes = [](std::initializer_list<double> volumes) {
            QList<PricePoint> out;
            double t = 0;
            for (double v : volumes)
                out.append({t += 300, 10, v});
            return out;
        };
        s.intraday = withVolumes({100, 100, 100});
        QCOMPARE(s.volumeRatio(), 0.0);
        s.intraday = withVolumes({0, 500, 500, 500});
        QCOMPARE(s.volumeRatio(), 0.0);
        s.intraday = withVolumes({100, 300, 300, 300, 600});
        // earlier: (100 + 300) / 2 = 200; recent: (300 + 300 + 600) / 3 = 400.
        QCOMPARE(s.volumeRatio(), 2.0);
    }

    void spikeIndicesMarkBarToBarMovesOfAtLeastFourTenths() {
        Stock s = quoted(1, 1);
        QVERIFY(s.spikeIndices().isEmpty());
        s.intraday = bars({100});
        QVERIFY(s.spikeIndices().isEmpty());
        s.intraday = bars({100, 100.4, 100.4});
        QCOMPARE(s.spikeIndices(), QList<int>{1});
        s.intraday = bars({100, 100.39, 99.9, 0, 5, 5.01});
        // 1: +0.39 no; 2: about -0.49 yes; 3: -100 yes; 4: previous 0 skipped; 5: +0.2 no.
        QCOMPARE(s.spikeIndices(), (QList<int>{2, 3}));
    }

    void equalityCoversEveryField() {
        Stock a = quoted(10, 9);
        a.history = bars({1, 2});
        a.intraday = bars({3});
        a.lastUpdate = 5;
        Stock b = a;
        QCOMPARE(a, b);
        b.contextTag = QString();
        QVERIFY(a != b); // present-but-empty differs from absent
        b = a;
        b.lastSpikeAt = 0.0;
        QVERIFY(a != b);
        b = a;
        b.intraday[0] = {0, 3, 1};
        QVERIFY(a != b);
        QVERIFY((PricePoint{1, 2, 3} == PricePoint{1, 2, 3}));
        QVERIFY((PricePoint{1, 2, 3} != PricePoint{1, 2, 0}));
    }

    void gadgetPropertiesReadFieldsAndDerivedValues() {
        Stock s = quoted(101, 100);
        s.lastSpikeAt = 42.0;
        const QMetaObject& mo = Stock::staticMetaObject;
        auto read = [&](const char* name) {
            return mo.property(mo.indexOfProperty(name)).readOnGadget(&s);
        };
        QCOMPARE(read("symbol").toString(), QStringLiteral("AAPL"));
        QCOMPARE(read("percentText").toString(), QStringLiteral("+1.00%"));
        QCOMPARE(read("direction").value<Direction>(), Direction::up);
        QVERIFY(read("contextTag").isNull());
        QCOMPARE(read("lastSpikeAt").toDouble(), 42.0);
        QCOMPARE(Stock::directionName(Direction::down), QStringLiteral("down"));
    }
};

QTEST_GUILESS_MAIN(TestStock)
#include "tst_stock.moc"
