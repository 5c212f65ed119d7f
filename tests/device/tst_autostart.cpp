// Auto Boot on Linux: the XDG autostart entry in the test's private
// XDG_CONFIG_HOME, its Exec quoting, and when it is written, kept or removed.
#include "autostart.h"
#include "testenv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <functional>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kName = "QR-7215";

QString entryPath()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart/QR-7215.desktop");
}

QStringList entryLines(const QString& path = entryPath())
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

QStringList execLines(const QString& path = entryPath())
{
    return entryLines(path).filter(QRegularExpression("^Exec="));
}

// The reading side of the desktop entry rules, written out independently of
// the writer: string escapes first, then the quoting of the one argument.
QString decodeExec(const QString& value)
{
    QString unescaped;
    for (int i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const QChar next = value[++i];
            unescaped += next == 'n' ? QChar('\n') : next == 't' ? QChar('\t') : next == 'r' ? QChar('\r')
                       : next == 's' ? QChar(' ') : next;
        } else {
            unescaped += value[i];
        }
    }
    if (unescaped.size() < 2 || !unescaped.startsWith('"') || !unescaped.endsWith('"'))
        return QStringLiteral("<not one quoted argument>");
    const auto at = [&unescaped](int i) { return i < unescaped.size() ? unescaped[i] : QChar(); };
    QString arg;
    for (int i = 1; i < unescaped.size() - 1; ++i) {
        const QChar c = unescaped[i];
        if (c == '\\') {
            const QChar next = at(++i);
            if (QStringLiteral("\"`$\\").contains(next))
                arg += next;
            else
                return QStringLiteral("<bad escape>");
        } else if (c == '"' || c == '`' || c == '$') {
            return QStringLiteral("<unescaped reserved character>");
        } else if (c == '%') {
            if (at(++i) != '%')
                return QStringLiteral("<field code>");
            arg += '%';
        } else {
            arg += c;
        }
    }
    return arg;
}

} // namespace

class tst_autoStart : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void onWritesEntry();
    void runningExecutableIsRegistered();
    void offRemovesOnlyOwnEntry_data();
    void offRemovesOnlyOwnEntry();
    void samePathLeavesEntryUntouched();
    void movedExecutableReplacesEntry();
    void execIsQuoted_data();
    void execIsQuoted();
    void configHomeDefaultsToDotConfig();
};

void tst_autoStart::init()
{
    QDir(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart")).removeRecursively();
}

void tst_autoStart::onWritesEntry()
{
    platform::registerAutoStart(kName, "/opt/qr7215/bin/QR-7215");

    const QStringList lines = entryLines();
    QCOMPARE(lines.value(0), QStringLiteral("[Desktop Entry]"));
    QVERIFY(lines.contains("Type=Application"));
    QVERIFY(lines.contains("Name=QR-7215"));
    QVERIFY(lines.contains("X-GNOME-Autostart-enabled=true"));
    QCOMPARE(execLines(), QStringList{"Exec=\"/opt/qr7215/bin/QR-7215\""});
    QCOMPARE(QDir(QFileInfo(entryPath()).absolutePath()).entryList(QDir::Files),
             QStringList{"QR-7215.desktop"});
}

void tst_autoStart::runningExecutableIsRegistered()
{
    QCOMPARE(QString::fromStdString(platform::currentExecutablePath()), QCoreApplication::applicationFilePath());
    platform::registerAutoStart(kName);
    QCOMPARE(execLines().size(), 1);
    QCOMPARE(decodeExec(execLines().at(0).mid(5)), QCoreApplication::applicationFilePath());
}

void tst_autoStart::offRemovesOnlyOwnEntry_data()
{
    QTest::addColumn<QString>("registered");   // empty: the running executable
    QTest::addColumn<bool>("removed");

    QTest::newRow("this executable's entry") << QString() << true;
    QTest::newRow("another copy's entry") << "/opt/qr7215/bin/QR-7215" << false;
    QTest::newRow("a copy beside this one")
        << QCoreApplication::applicationFilePath() + QStringLiteral("-demo") << false;
}

void tst_autoStart::offRemovesOnlyOwnEntry()
{
    QFETCH(QString, registered);
    QFETCH(bool, removed);

    const QString other = QFileInfo(entryPath()).absolutePath() + QStringLiteral("/other.desktop");
    QVERIFY(registered.isEmpty() ? platform::registerAutoStart(kName)
                                 : platform::registerAutoStart(kName, registered.toStdString()));
    QVERIFY(platform::registerAutoStart("other", "/usr/bin/other"));
    const QStringList before = entryLines();

    QVERIFY(platform::unregisterAutoStart(kName));
    QCOMPARE(QFile::exists(entryPath()), !removed);
    if (!removed)
        QCOMPARE(entryLines(), before);
    QVERIFY(QFile::exists(other));

    // Off again stays quiet and harmless.
    QVERIFY(platform::unregisterAutoStart(kName));
    QCOMPARE(QFile::exists(entryPath()), !removed);
}

void tst_autoStart::samePathLeavesEntryUntouched()
{
    platform::registerAutoStart(kName, "/opt/qr7215/bin/QR-7215");
    const QByteArray before = entryLines().join('\n').toUtf8();
    const QDateTime old = QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);
    {
        QFile f(entryPath());
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(old, QFileDevice::FileModificationTime));
    }
    const ino_t inode = [] {
        struct stat st{};
        return ::stat(QFile::encodeName(entryPath()).constData(), &st) == 0 ? st.st_ino : ino_t(0);
    }();

    platform::registerAutoStart(kName, "/opt/qr7215/bin/QR-7215");

    QCOMPARE(QFileInfo(entryPath()).lastModified().toUTC(), old);
    struct stat st{};
    QCOMPARE(::stat(QFile::encodeName(entryPath()).constData(), &st), 0);
    QCOMPARE(st.st_ino, inode);
    QCOMPARE(entryLines().join('\n').toUtf8(), before);
}

void tst_autoStart::movedExecutableReplacesEntry()
{
    platform::registerAutoStart(kName, "/opt/old/QR-7215");
    platform::registerAutoStart(kName, "/opt/new/QR-7215");
    QCOMPARE(execLines(), QStringList{"Exec=\"/opt/new/QR-7215\""});
    QCOMPARE(entryLines().filter(QRegularExpression("^\\[")).size(), 1);
}

void tst_autoStart::execIsQuoted_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("exec");   // as it stands in the file

    QTest::newRow("plain") << "/opt/qr/QR-7215" << "\"/opt/qr/QR-7215\"";
    QTest::newRow("blanks") << "/home/op/My Programs/QR 7215" << "\"/home/op/My Programs/QR 7215\"";
    QTest::newRow("double quote") << "/tmp/a\"b/QR-7215" << "\"/tmp/a\\\\\"b/QR-7215\"";
    QTest::newRow("dollar and backquote") << "/tmp/$HOME/`id`/x" << "\"/tmp/\\\\$HOME/\\\\`id\\\\`/x\"";
    QTest::newRow("backslash takes four") << "/tmp/a\\b" << "\"/tmp/a\\\\\\\\b\"";
    QTest::newRow("percent is doubled") << "/tmp/100%/x" << "\"/tmp/100%%/x\"";
    QTest::newRow("single quote and semicolon") << "/tmp/it's;x/y" << "\"/tmp/it's;x/y\"";
    QTest::newRow("blank, quote and apostrophe") << "/home/o'neil/\"UPS\" tool/QR-7215"
                                                 << "\"/home/o'neil/\\\\\"UPS\\\\\" tool/QR-7215\"";
}

void tst_autoStart::execIsQuoted()
{
    QFETCH(QString, executable);
    QFETCH(QString, exec);

    platform::registerAutoStart(kName, executable.toStdString());
    QCOMPARE(execLines(), QStringList{"Exec=" + exec});
    QCOMPARE(decodeExec(exec), executable);
}

void tst_autoStart::configHomeDefaultsToDotConfig()
{
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    const QByteArray savedHome = qgetenv("HOME");
    QTemporaryDir home(testsupport::tempRoot() + QStringLiteral("/home-XXXXXX"));
    QVERIFY(home.isValid());
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(home.path()));

    platform::registerAutoStart(kName, "/opt/qr/QR-7215");
    const QString expected = home.path() + QStringLiteral("/.config/autostart/QR-7215.desktop");
    const bool written = QFile::exists(expected);
    platform::unregisterAutoStart(kName, "/opt/qr/QR-7215");
    const bool removed = !QFile::exists(expected);

    qputenv("XDG_CONFIG_HOME", savedConfig);
    qputenv("HOME", savedHome);
    QVERIFY(written);
    QVERIFY(removed);
}

QR_TEST_GUILESS_MAIN(tst_autoStart)
#include "tst_autostart.moc"
