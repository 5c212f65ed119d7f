// Test harness shared by every test executable: a private environment (config
// and runtime folders in a temporary directory, so no test touches the real
// user's files) and a message handler that fails the run on a broken
// string-based signal/slot connection.
#pragma once

#include <QtTest>

#include <QApplication>
#include <QString>

namespace testsupport {

// Points XDG_CONFIG_HOME and XDG_RUNTIME_DIR at fresh temporary folders and
// installs the message handler. Call before the application object exists.
void prepareEnvironment();

// The temporary root prepareEnvironment() made (removed at exit).
QString tempRoot();

// Messages the handler has seen that matched a failing pattern.
int connectionWarnings();

} // namespace testsupport

#define QR_TEST_MAIN(TestObject)                                 \
    int main(int argc, char** argv)                              \
    {                                                            \
        testsupport::prepareEnvironment();                       \
        QApplication app(argc, argv);                            \
        app.setAttribute(Qt::AA_Use96Dpi, true);                 \
        TestObject tc;                                           \
        QTEST_SET_MAIN_SOURCE_PATH                               \
        const int rc = QTest::qExec(&tc, argc, argv);            \
        return rc ? rc : (testsupport::connectionWarnings() ? 1 : 0); \
    }

#define QR_TEST_GUILESS_MAIN(TestObject)                         \
    int main(int argc, char** argv)                              \
    {                                                            \
        testsupport::prepareEnvironment();                       \
        QCoreApplication app(argc, argv);                        \
        TestObject tc;                                           \
        QTEST_SET_MAIN_SOURCE_PATH                               \
        const int rc = QTest::qExec(&tc, argc, argv);            \
        return rc ? rc : (testsupport::connectionWarnings() ? 1 : 0); \
    }
