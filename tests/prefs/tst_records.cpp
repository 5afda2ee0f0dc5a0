#include "prefs/records.h"

#include <QJsonDocument>
#include <QTest>

#include <limits>

using namespace velline;

namespace {
QJsonValue parse(const char* json) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray("[") + json + "]", &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad test JSON: %s", json);
    return doc.array().at(0);
}
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
} // namespace

class TestRecords : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void alertDecodesHandWrittenStoredForm() {
        // 721692800.5 s after 2001-01-01 UTC is 1700000000.5 s after 1970-01-01 UTC.
        const auto alert = PriceAlert::fromJson(
            parse(R"({"id":"6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b","symbol":"AAPL",)"
                  R"("price":190.5,"direction":"below","lastTriggered":721692800.5})"));
        QVERIFY(alert);
        QCOMPARE(alert->idText(), QStringLiteral("6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B"));
        QCOMPARE(alert->symbol, QStringLiteral("AAPL"));
        QCOMPARE(alert->price, 190.5);
        QCOMPARE(alert->direction, PriceAlert::Direction::below);
        QCOMPARE(alert->lastTriggered, std::optional<double>(1700000000.5));

        // null means absent; an integer-valued number is a number like any other
        const auto untriggered = PriceAlert::fromJson(
            parse(R"({"id":"6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B","symbol":"X","price":2,)"
                  R"("direction":"above","lastTriggered":null})"));
        QVERIFY(untriggered);
        QVERIFY(!untriggered->lastTriggered);
        QCOMPARE(untriggered->price, 2.0);
    }

    void alertEncodesUpperCaseIdAndOmitsUnsetDate() {
        PriceAlert alert{QUuid::createUuid(), QStringLiteral("NVDA"), 123.25,
                         PriceAlert::Direction::above, std::nullopt};
        QJsonObject json = *alert.toJson();
        QCOMPARE(json.keys(), (QStringList{"direction", "id", "price", "symbol"}));
        const QString id = json.value("id").toString();
        QCOMPARE(id.size(), 36);
        QCOMPARE(id, id.toUpper());
        QVERIFY(!id.contains('{'));
        QCOMPARE(json.value("direction").toString(), QStringLiteral("above"));
        QCOMPARE(PriceAlert::fromJson(json), std::optional<PriceAlert>(alert));

        alert.lastTriggered = 1700000000.25;
        json = *alert.toJson();
        QCOMPARE(json.value("lastTriggered").toDouble(), 721692800.25);
        QCOMPARE(PriceAlert::fromJson(json), std::optional<PriceAlert>(alert));
    }

    void strictDecodingRefusesWrongShapes() {
        const char* badAlerts[] = {
            R"({"symbol":"A","price":1,"direction":"above"})", // no id
            R"({"id":"{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}","symbol":"A","price":1,"direction":"above"})",
            R"({"id":"not-a-uuid-at-all-but-36-characters!","symbol":"A","price":1,"direction":"above"})",
            R"({"id":"6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B","symbol":"A","price":"1","direction":"above"})",
            R"({"id":"6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B","symbol":7,"price":1,"direction":"above"})",
            R"({"id":"6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B","symbol":"A","price":1,"direction":"up"})",
            R"({"id":"6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B","symbol":"A","price":1,"direction":"above","lastTriggered":"x"})",
            R"([])",
        };
        for (const char* json : badAlerts)
            QVERIFY2(!PriceAlert::fromJson(parse(json)), json);

        QVERIFY(!Holding::fromJson(parse(R"({"symbol":"A"})")));
        QVERIFY(!Holding::fromJson(parse(R"({"symbol":"A","shares":null})")));
        QVERIFY(!RGBColor::fromJson(parse(R"({"red":1,"green":0.5})")));

        // one bad element spoils the whole list
        QVERIFY(decodeHoldings(parse(R"([{"symbol":"A","shares":1}])")));
        QVERIFY(!decodeHoldings(parse(R"([{"symbol":"A","shares":1},{"symbol":"B"}])")));
        QVERIFY(!decodeHoldings(parse(R"({"symbol":"A","shares":1})")));
        QVERIFY(!decodePriceAlerts(parse(R"([{"symbol":"A","price":1,"direction":"above"}])")));
    }

    void nonFiniteNumbersNeverEncode() {
        QVERIFY(!(Holding{"A", kNaN}.toJson()));
        QVERIFY(!encodeHoldings({Holding{"A", 1}, Holding{"B", kInf}}));
        QVERIFY(!(PriceAlert{QUuid::createUuid(), "A", kInf, {}, std::nullopt}.toJson()));
        QVERIFY(!(PriceAlert{QUuid::createUuid(), "A", 1, {}, kNaN}.toJson()));
        ColorSchemePrefs scheme;
        scheme.futuresDown = RGBColor{0, kNaN, 0};
        QVERIFY(!scheme.toJson());
    }

    void colorSchemeStoresOnlySetColours() {
        ColorSchemePrefs scheme;
        QCOMPARE(*scheme.toJson(), QJsonObject());
        QCOMPARE(ColorSchemePrefs::fromJson(QJsonObject()), std::optional(scheme));

        scheme.equityDown = RGBColor{1, 0.25, 0};
        const QJsonObject json = *scheme.toJson();
        QCOMPARE(json.keys(), QStringList{"equityDown"});
        QCOMPARE(ColorSchemePrefs::fromJson(json), std::optional(scheme));
        QVERIFY(!ColorSchemePrefs::fromJson(parse(R"({"equityUp":{"red":1}})")));
        QVERIFY(!ColorSchemePrefs::fromJson(parse(R"([])")));
    }

    void displayModeRawValues() {
        QCOMPARE(rawValue(DisplayMode::compactLogo), QStringLiteral("compact2"));
        QCOMPARE(displayModeFromRawValue("compact2"), std::optional(DisplayMode::compactLogo));
        QCOMPARE(displayModeFromRawValue("compactLogo"), std::nullopt);
        QCOMPARE(displayModeFromRawValue("Regular"), std::nullopt);
        for (DisplayMode mode : allDisplayModes)
            QCOMPARE(displayModeFromRawValue(rawValue(mode)), std::optional(mode));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
