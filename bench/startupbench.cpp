// Start-up: from exec to the main window painted. The benchmark starts itself
// in a child mode that runs the program's own start sequence (instance guard,
// main window, show) and reports when the window's first frame is done.
#include "benchsections.h"

#include "mainwindow.h"
#include "samplestats.h"
#include "singleinstance.h"

#include <QApplication>
#include <QEvent>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <memory>

namespace {

constexpr double kGoalMs = 300;

// Reports the moment the first paint of the main window has been done.
class firstFrameProbe : public QObject
{
public:
    explicit firstFrameProbe(QWidget* window) : m_window(window) { qApp->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!m_seen && event->type() == QEvent::Paint && watched->isWidgetType()
            && static_cast<QWidget*>(watched)->window() == m_window) {
            m_seen = true;
            // Queued: runs once the whole frame has been painted and flushed.
            QTimer::singleShot(0, qApp, [] {
                std::printf("shown-ns %lld\n", static_cast<long long>(benchSupport::monotonicNs()));
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    QWidget* m_window;
    bool m_seen = false;
};

} // namespace

int startupChild(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (!platform::acquireSingleInstance("QR-7215_UTILITY"))
        return 3;
    const auto window = std::make_unique<mainWindow>();
    firstFrameProbe probe(window.get());
    window->show();
    return app.exec();
}

void runStartup(const benchOptions& o, figureTable& table)
{
    benchFigure f;
    f.name = QStringLiteral("startup");
    f.title = QStringLiteral("Start-up");
    f.conditions = QStringLiteral("exec to main window painted, %1 starts").arg(o.startupSamples);
    f.unit = QStringLiteral("ms");
    f.goal = kGoalMs;
    f.decimals = 1;

    std::vector<double> samples;
    for (int i = 0; i < o.startupSamples && f.error.isEmpty(); ++i) {
        QTemporaryDir runtime;
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The child reads the same system-wide monotonic clock when its frame is done.
        const qint64 t0 = benchSupport::monotonicNs();
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--startup-child")});
        if (!child.waitForFinished(15000)) {
            child.kill();
            child.waitForFinished(5000);
            f.error = QStringLiteral("child did not show its window within 15 s");
            break;
        }
        const QByteArray out = child.readAllStandardOutput();
        const int at = out.indexOf("shown-ns ");
        if (at < 0) {
            f.error = QStringLiteral("child exited with %1 without showing").arg(child.exitCode());
            break;
        }
        const qint64 shown = out.mid(at + 9).trimmed().split('\n').value(0).toLongLong();
        samples.push_back((shown - t0) / 1e6);
    }
    if (f.error.isEmpty()) {
        f.value = sampleStats::median(samples);
        f.note = QStringLiteral("min %1 ms, max %2 ms")
                     .arg(*std::min_element(samples.begin(), samples.end()), 0, 'f', 1)
                     .arg(sampleStats::maximum(samples), 0, 'f', 1);
    }
    table.add(f);
}
