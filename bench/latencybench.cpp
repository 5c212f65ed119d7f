// Display latency: from a status register changing in the module to the status
// page painting the new value (a voltage label, or an LED).
#include "benchsections.h"

#include "benchsimulator.h"
#include "comsettings.h"
#include "ledwidget.h"
#include "monitorthread.h"
#include "samplestats.h"
#include "statusmonitorwidget.h"
#include "wirelimit.h"

#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>
#include <QWindow>

#include <functional>

namespace {

constexpr quint32 kPeriodMs = 10;   // the connection record's default
constexpr double kFrameMs = 16;     // one frame of a 60 Hz screen
constexpr unsigned kBauds[] = {115200, 9600};

// Notes the first paint of a widget that shows what is expected, and when
// the page last took a block from the poll thread (a queued call to the page).
class paintWatch : public QObject
{
public:
    paintWatch(QWidget* page, QWidget* target, std::function<bool()> shows, QEventLoop& loop)
        : m_page(page), m_target(target), m_shows(std::move(shows)), m_loop(loop)
    {
        m_page->installEventFilter(this);
        m_target->installEventFilter(this);
    }
    ~paintWatch() override
    {
        m_target->removeEventFilter(this);
        m_page->removeEventFilter(this);
    }

    qint64 seenNs = 0;
    qint64 deliveredNs = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (seenNs != 0)
            return false;
        if (watched == m_page && event->type() == QEvent::MetaCall) {
            deliveredNs = benchSupport::monotonicNs();
        } else if (watched == m_target && event->type() == QEvent::Paint && m_shows()) {
            seenNs = benchSupport::monotonicNs();
            m_loop.quit();
        }
        return false;
    }

private:
    QWidget* m_page;
    QWidget* m_target;
    std::function<bool()> m_shows;
    QEventLoop& m_loop;
};

void measure(benchFigure& f, benchSimulator& sim, unsigned baud, const benchOptions& o)
{
    statusMonitorWidget page;
    page.resize(713, 543);
    page.show();
    auto* voltage = page.findChild<QLabel*>(QStringLiteral("m_lblVoltageInputValue"));
    auto* remote = page.findChild<ledWidget*>(QStringLiteral("m_ledRemote"));
    if (!voltage || !remote || !benchSupport::waitFor([&] {
            return page.windowHandle() && page.windowHandle()->isExposed();
        }, 5000)) {
        f.error = QStringLiteral("status page not shown");
        return;
    }

    comSettings settings;
    settings.pollDelay = kPeriodMs;
    page.slotOnConnect(settings);
    if (!benchSupport::waitFor([&] { return voltage->text() == QStringLiteral("24000mV"); }, 5000)) {
        f.error = QStringLiteral("no status block shown");
        page.slotOnSetEnabled(false);
        return;
    }

    const int spreadMs = static_cast<int>(2 * (kPeriodMs + wireLimit::readMs(monitorThread::kStatusCount, baud))) + 1;
    std::vector<double> latencies;
    // From the block reaching the page to the new value painted: the part
    // that is neither the poll schedule nor the line.
    std::vector<double> displayShares;
    for (int i = 0; i < o.latencySamples; ++i) {
        const bool led = i % 2 == 1;
        const int value = led ? (remote->isOn() ? 0 : 1) : 20000 + i;
        const QString line = QStringLiteral("set %1 %2").arg(led ? 40032 : 40016).arg(value);
        const QString text = QString::number(value) + QStringLiteral("mV");
        QEventLoop loop;
        paintWatch watch(&page, led ? static_cast<QWidget*>(remote) : voltage,
                         [&] { return led ? remote->isOn() == (value != 0) : voltage->text() == text; }, loop);
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        const qint64 t0 = benchSupport::monotonicNs();
        sim.send(line);
        if (watch.seenNs == 0)
            loop.exec();
        sim.takeAnswer();
        if (watch.seenNs == 0) {
            f.error = QStringLiteral("\"%1\" not shown within 3 s").arg(line);
            break;
        }
        latencies.push_back((watch.seenNs - t0) / 1e6);
        if (watch.deliveredNs > t0)
            displayShares.push_back((watch.seenNs - watch.deliveredNs) / 1e6);
        // The next change waits a spread of times after this paint, which
        // follows a read: over two poll cycles, so that changes land at every
        // phase of the cycle alike.
        benchSupport::spin(1 + (i * 37) % spreadMs);
    }
    page.slotOnSetEnabled(false);
    if (!f.error.isEmpty())
        return;
    f.value = sampleStats::median(latencies);
    f.note = QStringLiteral("p95 %1 ms, max %2 ms, %3 changes; block to paint median %4 ms, max %5 ms")
                 .arg(sampleStats::percentile(latencies, 95), 0, 'f', 1)
                 .arg(sampleStats::maximum(latencies), 0, 'f', 1)
                 .arg(latencies.size())
                 .arg(sampleStats::median(displayShares), 0, 'f', 2)
                 .arg(sampleStats::maximum(displayShares), 0, 'f', 2);
}

} // namespace

void runLatency(const benchOptions& o, figureTable& table)
{
    for (unsigned baud : kBauds) {
        benchFigure f;
        f.name = QStringLiteral("latency_%1").arg(baud);
        f.title = QStringLiteral("Display latency");
        f.conditions = QStringLiteral("%1 baud, poll %2 ms, status page").arg(baud).arg(kPeriodMs);
        f.unit = QStringLiteral("ms");
        f.wireLimit = wireLimit::readText(monitorThread::kStatusCount, baud);
        f.goal = kPeriodMs + wireLimit::readMs(monitorThread::kStatusCount, baud) + kFrameMs;
        f.decimals = 1;
        benchSimulator sim;
        if (!sim.start(baud))
            f.error = QStringLiteral("simulator did not start");
        else if (!benchSupport::openAdapter(sim, baud))
            f.error = QStringLiteral("cannot open the simulator's port");
        else
            measure(f, sim, baud, o);
        benchSupport::closeAdapter();
        table.add(f);
    }
}
