// Test harness shared by every test executable: a private environment (config
// and runtime folders in a temporary directory, so no test touches the real
// user's files). Broken string-based connections fail a test through CTest's
// FAIL_REGULAR_EXPRESSION on Qt's warning (tests/CMakeLists.txt), because
// QtTest keeps every message handler but its own out of the run.
#pragma once

#include <QtTest>

#include <QApplication>
#include <QString>

namespace testsupport {

// Points XDG_CONFIG_HOME, XDG_RUNTIME_DIR and XDG_STATE_HOME (the event log)
// at fresh temporary folders.
// Call before the application object exists.
void prepareEnvironment();

// The temporary root prepareEnvironment() made (removed at exit).
QString tempRoot();

// The whole file; empty when it cannot be read.
QByteArray fileBytes(const QString& path);
// Writes bytes as the whole file at path, making its folder first.
bool putFile(const QString& path, const QByteArray& bytes);

} // namespace testsupport

#define QR_TEST_MAIN(TestObject)                                 \
    int main(int argc, char** argv)                              \
    {                                                            \
        testsupport::prepareEnvironment();                       \
        QApplication app(argc, argv);                            \
        app.setAttribute(Qt::AA_Use96Dpi, true);                 \
        TestObject tc;                                           \
        QTEST_SET_MAIN_SOURCE_PATH                               \
        return QTest::qExec(&tc, argc, argv);                    \
    }

#define QR_TEST_GUILESS_MAIN(TestObject)                         \
    int main(int argc, char** argv)                              \
    {                                                            \
        testsupport::prepareEnvironment();                       \
        QCoreApplication app(argc, argv);                        \
        TestObject tc;                                           \
        QTEST_SET_MAIN_SOURCE_PATH                               \
        return QTest::qExec(&tc, argc, argv);                    \
    }
