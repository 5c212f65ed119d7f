// The fault matrix, one page at a time: the real main window, adapter and
// device library against qr7215-sim over its pseudo-terminal. Each row makes
// the module misbehave one way while the page is current, lets the program
// run into it, mends the module and checks what the operator got: no crash or
// hang, a responsive GUI thread, one clear line per failure text with the
// repeats counted, never an old value after a fresh one, and live values back
// after the module recovers and the link is made again.
#pragma once

#include "faultfixture.h"
#include "simulatorprocess.h"

#include <QObject>
#include <QPointer>

#include <memory>

class QTabWidget;
class LogCapture;
class mainWindow;

class faultMatrix : public QObject
{
    Q_OBJECT
public:
    enum class page { statusMonitor, config };

    explicit faultMatrix(page shown);
    ~faultMatrix() override;

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void faultAndRecovery_data();
    void faultAndRecovery();

protected:
    QString pageName() const;
    // The register the row's page shows and how its value reads there.
    int shownRegister() const;
    int shownValue(int step) const;
    QString shownText(int step) const;
    QString displayText() const;
    // The adapter's and the poll thread's lines for code.
    QStringList failureTexts(int code) const;

    bool press(const char* name, bool connectedAfter);
    bool connectLink();
    bool disconnectLink();
    bool showPage();
    QTabWidget* tabs() const;

private:
    const page m_page;
    SimulatorProcess m_sim;
    faultfixture::lineSetup m_line;
    std::unique_ptr<mainWindow> m_window;
};
