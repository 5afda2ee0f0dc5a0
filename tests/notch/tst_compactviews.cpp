#include "notch/logoimage.h"
#include "notch/notchclock.h"
#include "notchrig.h"

#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <QStyleHints>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(Velline_NotchPlugin)
Q_IMPORT_QML_PLUGIN(Velline_PrefsPlugin)

using namespace velline;
using notchrig::stock;

namespace {

constexpr double t0 = 1'700'000'000.0;

// The two compact wrappers side by side in a window, on a private state and virtual time.
struct Scene {
    Scene() {
        setNotchClock(&clock);
        state = std::make_unique<AppState>(&prefs, &source, &clock, nullptr);
        state->setStocks({stock("AAA", 101), stock("BBB", 99), stock("CCC", 100)});
        state->setActiveSymbol(QStringLiteral("BBB"));

        view.engine()->addImportPath(QStringLiteral("qrc:/qt/qml"));
        view.setInitialProperties({{"testState", QVariant::fromValue<QObject*>(state.get())},
                                   {"testPrefs", QVariant::fromValue<QObject*>(&prefs)}});
        view.setSource(QUrl(QStringLiteral("qrc:/scene.qml")));
        if (view.status() != QQuickView::Ready)
            qWarning() << view.errors();
        view.show();
    }
    ~Scene() { setNotchClock(nullptr); }

    QQuickItem* item(const char* name) const {
        return view.rootObject()->findChild<QQuickItem*>(QLatin1String(name));
    }
    QPoint centreOf(const char* name) const {
        QQuickItem* i = item(name);
        return i->mapToScene(QPointF(i->width() / 2, i->height() / 2)).toPoint();
    }
    QList<QQuickItem*> contents(const char* side) const {
        QVariant list;
        QMetaObject::invokeMethod(item(side)->findChild<QQuickItem*>("transition"), "contents",
                                  Q_RETURN_ARG(QVariant, list));
        QList<QQuickItem*> out;
        for (const QVariant& v : list.toList())
            out.append(v.value<QQuickItem*>());
        return out;
    }
    static QString textOf(QQuickItem* content, const char* name) {
        QQuickItem* text = content->findChild<QQuickItem*>(QLatin1String(name));
        return text && text->isVisible() ? text->property("text").toString() : QString();
    }

    notchrig::Prefs rig;
    UserPreferences& prefs = rig.prefs;
    notchrig::HeldQuotes source;
    ManualClock clock{t0};
    std::unique_ptr<AppState> state;
    QQuickView view;
};

} // namespace

class TestCompactViews : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void tapsOnTheViewStepTheCarousel() {
        Scene s;
        QVERIFY(QTest::qWaitForWindowExposed(&s.view));
        const QPoint centre = s.centreOf("leading");
        const int interval = qApp->styleHints()->mouseDoubleClickInterval();
        QVERIFY(interval >= 280); // the desktop default; the rule takes 0.28 s

        // A double tap steps back at once and never forward.
        QTest::mouseClick(&s.view, Qt::LeftButton, {}, centre);
        QCOMPARE(s.state->activeSymbol(), std::optional<QString>("BBB"));
        s.clock.advance(0.2);
        QTest::mouseClick(&s.view, Qt::LeftButton, {}, centre, 20);
        QCOMPARE(s.state->activeSymbol(), std::optional<QString>("AAA"));
        s.clock.advance(1);
        QCOMPARE(s.state->activeSymbol(), std::optional<QString>("AAA"));

        // A single tap on the other side steps forward once the tap delay is over.
        QTest::qWait(interval + 50); // let the desktop's double click expire
        QTest::mouseClick(&s.view, Qt::LeftButton, {}, s.centreOf("trailing"));
        s.clock.advance(0.279);
        QCOMPARE(s.state->activeSymbol(), std::optional<QString>("AAA"));
        s.clock.advance(0.001);
        QCOMPARE(s.state->activeSymbol(), std::optional<QString>("BBB"));
    }

    void aNewSymbolSlidesInWhileTheOldOneKeepsItsValues() {
        Scene s;
        QVERIFY(QTest::qWaitForWindowExposed(&s.view));
        QCOMPARE(s.contents("leading").size(), 1);
        QCOMPARE(Scene::textOf(s.contents("leading").at(0), "ticker"), QStringLiteral("BBB"));

        // New numbers for the same symbol update in place.
        s.state->setStocks({stock("AAA", 101), stock("BBB", 98.5), stock("CCC", 100)});
        QCOMPARE(s.contents("trailing").size(), 1);
        QCOMPARE(Scene::textOf(s.contents("trailing").at(0), "priceText"),
                 QStringLiteral("$98.50"));

        // Forward: in from the trailing edge, out toward the leading edge.
        s.state->swipe(SwipeDirection::left);
        QList<QQuickItem*> leading = s.contents("leading");
        QList<QQuickItem*> trailing = s.contents("trailing");
        QCOMPARE(leading.size(), 2);
        QCOMPARE(Scene::textOf(leading.at(0), "ticker"), QStringLiteral("BBB"));
        QCOMPARE(Scene::textOf(leading.at(1), "ticker"), QStringLiteral("CCC"));
        QCOMPARE(Scene::textOf(trailing.at(0), "priceText"), QStringLiteral("$98.50"));
        QCOMPARE(Scene::textOf(trailing.at(1), "priceText"), QStringLiteral("$100.00"));
        QQuickItem* transition = s.item("leading")->findChild<QQuickItem*>("transition");
        const qreal overflow = transition->property("overflow").toReal();
        QVERIFY(leading.at(1)->parentItem()->x() > overflow);
        // Cut while sliding only (so glows of standing content are whole), and then with room
        // beyond the edges for a number's flash and the alert pulse.
        QQuickItem* stage = leading.at(1)->parentItem()->parentItem();
        QVERIFY(stage->clip());
        QVERIFY(overflow >= 8);
        QCOMPARE(stage->mapRectToItem(transition, stage->boundingRect()),
                 transition->boundingRect().adjusted(-overflow, -overflow, overflow, overflow));
        QTRY_COMPARE_WITH_TIMEOUT(s.contents("leading").size(), 1, 3000);
        QCOMPARE(s.contents("leading").at(0)->parentItem()->x(), overflow);
        QVERIFY(!stage->clip());

        // Back: in from the leading edge.
        s.state->swipe(SwipeDirection::right);
        leading = s.contents("leading");
        QCOMPARE(leading.size(), 2);
        QCOMPARE(Scene::textOf(leading.at(1), "ticker"), QStringLiteral("BBB"));
        QVERIFY(leading.at(1)->parentItem()->x() < overflow);
        QTRY_COMPARE_WITH_TIMEOUT(s.contents("leading").size(), 1, 3000);
    }

    void modesAndTheEmptyStateSizeTheViews() {
        Scene s;
        QVERIFY(QTest::qWaitForWindowExposed(&s.view));
        QQuickItem* leading = s.item("leading");
        QQuickItem* trailing = s.item("trailing");
        const qreal regularWidth = trailing->implicitWidth();

        s.prefs.setDisplayMode(DisplayMode::compact);
        QTRY_VERIFY(trailing->implicitWidth() < regularWidth); // the price went (after layout)
        QCOMPARE(Scene::textOf(s.contents("leading").at(0), "ticker"), QStringLiteral("BBB"));

        s.prefs.setDisplayMode(DisplayMode::doNotDisturb);
        QCOMPARE(leading->implicitWidth(), 0.0);
        QCOMPARE(trailing->implicitWidth(), 0.0);
        QCOMPARE(leading->implicitHeight(), 0.0);

        s.prefs.setDisplayMode(DisplayMode::regular);
        s.state->setStocks({});
        s.state->setActiveSymbol(std::nullopt);
        QTRY_COMPARE_WITH_TIMEOUT(s.contents("trailing").size(), 1, 3000);
        QCOMPARE(Scene::textOf(s.contents("leading").at(0), "placeholder"),
                 QStringLiteral("\u2014"));
        QCOMPARE(Scene::textOf(s.contents("trailing").at(0), "placeholder"),
                 QStringLiteral("\u2014"));
        // Six points each side of the content.
        QCOMPARE(leading->implicitWidth(), s.contents("leading").at(0)->implicitWidth() + 12);
    }

    void aLogoArrivingOnScreenReplacesTheLetter() {
        notchrig::LogoServer server;
        server.answers["/image-stock/%5EVIX.png"] = {200, notchrig::png(Qt::red, QSize(32, 32))};
        ManualClock clock(t0);
        LogoCache cache(&clock, server.prefix());
        QQuickWindow window;
        LogoImage logo(&cache, window.contentItem());
        logo.setSize(QSizeF(26, 26));
        logo.setSymbol(QStringLiteral("^VIX"));
        QVERIFY(!logo.hasImage());
        cache.prefetch(QStringLiteral("^VIX"));
        QTRY_VERIFY_WITH_TIMEOUT(logo.hasImage(), 5000);
    }
};

QTEST_MAIN(TestCompactViews)
#include "tst_compactviews.moc"
