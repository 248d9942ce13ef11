// What a screen reader reads of the window: Qt's AT-SPI bridge in the window, AT-SPI's own
// bus and registry on a private session bus, and the window on Xvfb.

#include "app/zgui.h"
#include "ezx/zoptionsmenu.h"
#include "guitest.h"
#include "tests/sessionrig.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>

using namespace guitest;

namespace {

// An assistive technology: it reads the application's objects on the accessibility bus
// and follows its focus, as a screen reader does.
class ScreenReader : public QObject
{
    Q_OBJECT
public:
    struct Node
    {
        QString service;
        QString path;
    };

    ScreenReader()
        : m_bus(QDBusConnection::connectToBus(accessibilityBus(), QStringLiteral("screen reader")))
    {
        m_bus.connect({}, {}, "org.a11y.atspi.Event.Object", "StateChanged", this, SLOT(stateChanged(QDBusMessage)));
        call({"org.a11y.atspi.Registry", "/org/a11y/atspi/registry"}, "org.a11y.atspi.Registry", "RegisterEvent",
             {QStringLiteral("object:state-changed:focused")});
    }

    QList<Node> children(const Node &node) const
    {
        QList<Node> found;
        const QDBusMessage reply = call(node, "org.a11y.atspi.Accessible", "GetChildren");
        if (reply.arguments().isEmpty())
            return found;
        const auto list = reply.arguments().constFirst().value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            Node child;
            QDBusObjectPath path;
            list.beginStructure();
            list >> child.service >> path;
            list.endStructure();
            child.path = path.path();
            found.append(child);
        }
        list.endArray();
        return found;
    }

    QString role(const Node &node) const
    {
        return call(node, "org.a11y.atspi.Accessible", "GetRoleName").arguments().value(0).toString();
    }

    QString name(const Node &node) const
    {
        const QDBusMessage reply = call(node, "org.freedesktop.DBus.Properties", "Get",
                                        {QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("Name")});
        return reply.arguments().value(0).value<QDBusVariant>().variant().toString();
    }

    bool isFocused(const Node &node) const
    {
        constexpr uint kFocused = 12;
        const QDBusMessage reply = call(node, "org.a11y.atspi.Accessible", "GetState");
        const auto states = qdbus_cast<QList<uint>>(reply.arguments().value(0));
        return !states.isEmpty() && (states.constFirst() & (1U << kFocused)) != 0;
    }

    QList<Node> applications() const
    {
        return children({"org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root"});
    }

    // The first object with `role` in the applications' trees, breadth first.
    Node find(const QString &role) const
    {
        QList<Node> queue = applications();
        while (!queue.isEmpty()) {
            Node node = queue.takeFirst();
            if (this->role(node) == role)
                return node;
            queue.append(children(node));
        }
        return {};
    }

    // The name of what was focused last.
    QString focusedName() const { return m_focused.path.isEmpty() ? QString() : name(m_focused); }

private slots:
    void stateChanged(const QDBusMessage &message)
    {
        if (message.arguments().value(0) == "focused" && message.arguments().value(1).toInt() == 1)
            m_focused = {message.service(), message.path()};
    }

private:
    static QString accessibilityBus()
    {
        const QDBusMessage reply = QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"));
        return reply.arguments().value(0).toString();
    }

    // The application answers in this thread, so the call waits in an event loop.
    QDBusMessage call(const Node &node, const char *interface, const char *method, const QVariantList &args = {}) const
    {
        QDBusMessage message = QDBusMessage::createMethodCall(node.service, node.path, interface, method);
        message.setArguments(args);
        return m_bus.call(message, QDBus::BlockWithGui, 2000);
    }

    QDBusConnection m_bus;
    Node m_focused;
};

} // namespace

class TestScreenReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
        m_reader = std::make_unique<ScreenReader>();
    }

    // The rows that can be chosen, as menu items, and the one under the cursor, as the focus.
    void screenReadersReadTheMenuAsAMenu_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<int>("steps"); // Down presses; below 0, Up presses
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QString>("focused");
        QTest::newRow("status menu as opened")
            << 0 << 0 << QStringList{"MENU_LANG", "MENU_ABOUT", "MENU_EXIT"} << "MENU_LANG";
        QTest::newRow("black list menu, past the separator")
            << 1 << 2 << QStringList{"MENU_ADD", "MENU_DELETE", "MENU_ABOUT", "MENU_EXIT"} << "MENU_ABOUT";
        QTest::newRow("register menu, up round to its end")
            << 3 << -1 << QStringList{"MENU_DELETE", "MENU_ABOUT", "MENU_EXIT"} << "MENU_EXIT";
    }

    void screenReadersReadTheMenuAsAMenu()
    {
        QFETCH(int, tab);
        QFETCH(int, steps);
        QFETCH(QStringList, items);
        QFETCH(QString, focused);
        FakeShell shell;
        const auto gui = makeGui(shell);
        showTab(*gui, tab);
        gui->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(gui.get()));
        QTest::keyClick(gui.get(), Qt::Key_F1);
        QTRY_VERIFY(menu(*gui)->hasFocus());
        for (int step = 0; step < std::abs(steps); ++step)
            QTest::keyClick(menu(*gui), steps > 0 ? Qt::Key_Down : Qt::Key_Up);
        QTRY_COMPARE(menu(*gui)->activeAction()->text(), focused); // keys pass through the registry first
        QTRY_VERIFY_WITH_TIMEOUT(!m_reader->applications().isEmpty(), 10000); // Qt joins with its first window
        const ScreenReader::Node read = m_reader->find("popup menu");
        QVERIFY2(!read.path.isEmpty(), "no popup menu");
        QStringList names;
        QString focusedItem;
        for (const ScreenReader::Node &item : m_reader->children(read)) {
            const QString role = m_reader->role(item);
            if (role == "separator")
                continue;
            QCOMPARE(role, QString("menu item"));
            names.append(m_reader->name(item));
            if (m_reader->isFocused(item))
                focusedItem = names.constLast();
        }
        QCOMPARE(names, items);
        QCOMPARE(focusedItem, focused);
        QTRY_COMPARE(m_reader->focusedName(), focused);
        // A press alone: the registry passes keys on in order, so once it lands none is still
        // out (one out at exit would never be freed).
        QTest::keyPress(menu(*gui), Qt::Key_Escape);
        QTRY_VERIFY(!menu(*gui)->isVisible());
    }

private:
    std::unique_ptr<ScreenReader> m_reader;
};

// The display, the session bus and AT-SPI's bus run for the whole test.
int main(int argc, char **argv)
{
    QTemporaryDir runtime;
    testfiles::useAsRuntimeDir(runtime.path());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    SessionRig session;
    if (!session.startDisplay("360x720x24") || !session.startBus()) {
        std::fprintf(stderr, "%s\n", qPrintable(session.error()));
        return 1;
    }
    session.start("/usr/libexec/at-spi-bus-launcher", {}, runtime.filePath("at-spi.log"));
    TestScreenReader test;
    return guitest::run(&test, argc, argv);
}
#include "tst_screenreader.moc"
