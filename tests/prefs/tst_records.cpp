#include "prefs/records.h"

#include <QJsonDocument>
#include <QTest>

using namespace velline;

namespace {
QJsonValue parse(const char* json) {
    return QJsonDocument::fromJson(QByteArray("[") + json + "]").array().at(0);
}
const char* const kId = R"("id":"6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b")";
} // namespace

class TestRecords : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void alertDecodesStoredFormWithDateOffset() {
        // 721692800.5 s after 2001-01-01 UTC is 1700000000.5 s after 1970-01-01 UTC.
        const auto alert =
            PriceAlert::fromJson(parse((QByteArray("{") + kId +
                                        R"(,"symbol":"AAPL","price":190.5,"direction":"below",)"
                                        R"("lastTriggered":721692800.5})")
                                           .constData()));
        QVERIFY(alert);
        QCOMPARE(alert->idText(), QStringLiteral("6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B"));
        QCOMPARE(alert->direction, PriceAlert::Direction::below);
        QCOMPARE(alert->lastTriggered, std::optional<double>(1700000000.5));
        QCOMPARE(alert->toJson()->value("lastTriggered").toDouble(), 721692800.5);

        // null counts as absent
        const auto plain = PriceAlert::fromJson(
            parse((QByteArray("{") + kId +
                   R"(,"symbol":"X","price":2,"direction":"above","lastTriggered":null})")
                      .constData()));
        QVERIFY(plain && !plain->lastTriggered);
    }

    void strictDecodingRefusesWrongShapes() {
        const char* badAlertTails[] = {
            R"("symbol":"A","price":"1","direction":"above")",
            R"("symbol":7,"price":1,"direction":"above")",
            R"("symbol":"A","price":1,"direction":"up")",
            R"("symbol":"A","price":1,"direction":"above","lastTriggered":"x")",
        };
        for (const char* tail : badAlertTails) {
            const QByteArray json = QByteArray("{") + kId + "," + tail + "}";
            QVERIFY2(!PriceAlert::fromJson(parse(json.constData())), tail);
        }
        QVERIFY(!PriceAlert::fromJson(parse(R"({"symbol":"A","price":1,"direction":"above"})")));
        QVERIFY(!PriceAlert::fromJson(
            parse(R"({"id":"{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}","symbol":"A","price":1,)"
                  R"("direction":"above"})")));
        QVERIFY(!Holding::fromJson(parse(R"({"symbol":"A","shares":null})")));
        QVERIFY(!RGBColor::fromJson(parse(R"({"red":1,"green":0.5})")));

        // one bad element spoils the whole list
        QVERIFY(decodeHoldings(parse(R"([{"symbol":"A","shares":1}])")));
        QVERIFY(!decodeHoldings(parse(R"([{"symbol":"A","shares":1},{"symbol":"B"}])")));
        QVERIFY(!decodeHoldings(parse(R"({"symbol":"A","shares":1})")));
    }

    void colorSchemeStoresOnlySetColours() {
        ColorSchemePrefs scheme;
        QCOMPARE(*scheme.toJson(), QJsonObject());
        scheme.equityDown = RGBColor{1, 0.25, 0};
        const QJsonObject json = *scheme.toJson();
        QCOMPARE(json.keys(), QStringList{"equityDown"});
        QCOMPARE(ColorSchemePrefs::fromJson(json), std::optional(scheme));
        QVERIFY(!ColorSchemePrefs::fromJson(parse(R"({"equityUp":{"red":1}})")));
        scheme.futuresUp = RGBColor{0, std::numeric_limits<double>::infinity(), 0};
        QVERIFY(!scheme.toJson());
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
