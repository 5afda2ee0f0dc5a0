// Which Expose events the panel may skip: only those wholly inside area its own shape changes
// uncovered a moment ago, and never the end of a series Qt has begun to gather.
#include "notchlayer/uncoveredarea.h"

#include <QTest>

#include <cmath>

using velline::UncoveredArea;

class TestUncoveredArea : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void skipsOnlyWhatWasUncoveredAndEachPixelOnce() {
        UncoveredArea area;
        QVERIFY(!area.skip(QRect(0, 0, 10, 10), false, 0)); // nothing uncovered yet
        area.add(QRegion(100, 0, 20, 30) + QRegion(300, 0, 20, 30), 10.0);
        area.add(QRegion(), 10.0);
        QVERIFY(area.skip(QRect(100, 0, 20, 10), true, 10.0));
        QVERIFY(area.skip(QRect(300, 0, 20, 30), false, 10.0));
        // Already answered, or reaching past the uncovered part: Qt draws it.
        QVERIFY(!area.skip(QRect(100, 0, 20, 10), false, 10.0));
        QVERIFY(!area.skip(QRect(100, 10, 21, 10), false, 10.0));
        QVERIFY(!area.skip(QRect(), false, 10.0));
        QVERIFY(area.skip(QRect(100, 10, 20, 20), false, 10.0));
        QVERIFY(area.isEmpty());
    }

    void aSeriesQtHasBegunEndsWithQt() {
        UncoveredArea area;
        area.add(QRegion(0, 0, 50, 50), 0);
        QVERIFY(!area.skip(QRect(200, 0, 10, 10), true, 0)); // a genuine expose: to Qt
        QVERIFY(area.skip(QRect(0, 0, 10, 10), true, 0));
        QVERIFY(!area.skip(QRect(10, 0, 10, 10), false, 0)); // the last one carries the rest
        // The next series starts afresh.
        QVERIFY(area.skip(QRect(20, 0, 10, 10), true, 0));
        QVERIFY(area.skip(QRect(30, 0, 10, 10), false, 0));
    }

    void uncoveredAreaWaitsHalfASecondForItsExpose() {
        UncoveredArea area;
        area.add(QRegion(0, 0, 10, 30), 100.0);
        QVERIFY(area.skip(QRect(0, 0, 10, 10), false, 100.0 + UncoveredArea::lifetime));
        QVERIFY(area.skip(QRect(0, 10, 10, 10), false, std::nextafter(100.5, 0.0)));
        QVERIFY(!area.skip(QRect(0, 20, 10, 10), false, std::nextafter(100.5, 200.0)));
        QVERIFY(area.isEmpty());

        area.add(QRegion(0, 0, 10, 10), 200.0);
        area.clear(); // a compositor arrived, or the panel was hidden
        QVERIFY(!area.skip(QRect(0, 0, 10, 10), false, 200.0));
    }
};

int runUncoveredAreaTests(int argc, char** argv) {
    TestUncoveredArea test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_uncoveredarea.moc"
