// Shared ground for the main window's run-time tests: a fresh window per test
// against the fake device library, with the tray's presence under the test's
// control, and the helpers that drive it through its refresh ticks.
#pragma once

#include "comadapter.h"
#include "connectionwatch.h"
#include "fakesdk.h"
#include "mainwindow.h"
#include "testenv.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QTabWidget>
#include <QTimer>

#include <memory>

class testWindow : public mainWindow
{
public:
    bool tray = true;
    bool ending = false;

protected:
    bool trayAvailable() const override { return tray; }
    bool sessionEnding() const override { return ending; }
};

class mainWindowFixture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { connectionwatch::install(); }

    void init()
    {
        fakesdk::reset();
        if (g_comAdapter.isConnected())
            g_comAdapter.slotCloseDevice();
        // Every test starts from the default connection settings.
        QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/configs")).removeRecursively();
        m_window = std::make_unique<testWindow>();
    }

    void cleanup()
    {
        m_window.reset();
        if (g_comAdapter.isConnected())
            g_comAdapter.slotCloseDevice();
        QCOMPARE(connectionwatch::take(), 0);
    }

protected:
    static QString imagePath(const char* name)
    {
        return QStringLiteral(":/mainWindow/images/UPS/") + QLatin1String(name);
    }

    static bool sameImage(const QIcon& icon, const QString& resource)
    {
        const QImage expected = QImage(resource).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        return !icon.isNull()
               && icon.pixmap(expected.size()).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied)
                      == expected;
    }

    // Status blocks are 20 registers, the register table's block 35.
    static int reads(uint32_t count)
    {
        int n = 0;
        for (const fakesdk::Call& c : fakesdk::calls())
            n += (c.function == "read" && c.count == count) ? 1 : 0;
        return n;
    }
    static int statusReads() { return reads(20); }
    static int tableReads() { return reads(35); }

    template <typename T>
    T* child(const char* name) const
    {
        return m_window->findChild<T*>(QLatin1String(name));
    }
    QTabWidget* tabs() const { return qobject_cast<QTabWidget*>(m_window->centralWidget()); }
    QLabel* stateLabel() const { return child<QLabel>("connectStateLabel"); }

    bool waitTicks(int n)
    {
        QSignalSpy ticks(child<QTimer>("updateTimer"), &QTimer::timeout);
        return QTest::qWaitFor([&] { return ticks.count() >= n; }, 5000);
    }

    bool connectDevice()
    {
        child<QAction>("connectAction")->trigger();
        return QTest::qWaitFor([] { return g_comAdapter.isConnected(); }, 5000)
               && QTest::qWaitFor([this] { return stateLabel()->text() == QLatin1String("Connected"); }, 5000);
    }

    std::unique_ptr<testWindow> m_window;
};
