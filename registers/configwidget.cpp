#include "configwidget.h"

#include "comadapter.h"
#include "configdialog.h"
#include "consoleprint.h"
#include "dataobject.h"
#include "registertransaction.h"
#include "registerworker.h"
#include "scriptfilefilter.h"
#include "scriptprocess.h"
#include "settingsstore.h"
#include "upsdatamodel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int kRefreshIntervalMs = 100;
// Combo items, in the order of the policy values they stand for.
const char* const kPolicyNames[] = {"NULL", "DC_OK", "SW"};
constexpr quint32 kPolicyCount = sizeof(kPolicyNames) / sizeof(kPolicyNames[0]);

} // namespace

configWidget::configWidget(QWidget* parent)
    : baseWidget(parent)
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("configWidget"));
    resize(400, 300);
    setWindowTitle(tr("configWidget"));

    m_tableView = new QTableView;
    m_tableView->setObjectName(QStringLiteral("m_tableView"));
    m_tableView->setEditTriggers(QAbstractItemView::DoubleClicked);
    m_tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tableView->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft);
    m_tableView->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_tableView->setAlternatingRowColors(true);
    // The settings below take their room from the window, not from the table.
    m_tableView->setMinimumHeight(m_tableView->horizontalHeader()->sizeHint().height()
                                  + 7 * m_tableView->verticalHeader()->defaultSectionSize());

    m_dataModel = new upsDataModel;
    m_dataModel->setHorizontalHeaderList({tr("Address"), tr("Name"), tr("Value"), tr("RW"), tr("Description")});
    m_tableView->setModel(m_dataModel);

    m_configDialog = new configDialog(this);

    auto* lblPolicy = new QLabel(tr("Policy:"));
    m_comboPolicy = new QComboBox;
    m_comboPolicy->setObjectName(QStringLiteral("m_comboPolicy"));
    for (const char* name : kPolicyNames)
        m_comboPolicy->addItem(QString::fromLatin1(name));
    m_comboPolicy->setCurrentIndex(0);
    connect(m_comboPolicy, SIGNAL(currentIndexChanged(int)), this, SLOT(slotOnPolicyChanged(int)));
    m_policy = static_cast<quint32>(m_comboPolicy->currentIndex());

    m_lblBatPath = new QLabel(tr("Post Process Script file:"));
    m_lblBatPath->setObjectName(QStringLiteral("m_lblBatPath"));
    m_lineEditBatPath = new QLineEdit;
    m_lineEditBatPath->setObjectName(QStringLiteral("m_lineEditBatPath"));
    // The path changes only through the file dialog; typed text would never be used.
    m_lineEditBatPath->setReadOnly(true);
    m_btnOpenBatFile = new QPushButton(tr("..."));
    m_btnOpenBatFile->setObjectName(QStringLiteral("m_btnOpenBatFile"));
    m_btnClearBatFile = new QPushButton(tr("Clear"));
    m_btnClearBatFile->setObjectName(QStringLiteral("m_btnClearBatFile"));
    m_btnTestScript = new QPushButton(tr("Test script"));
    m_btnTestScript->setObjectName(QStringLiteral("m_btnTestScript"));

    auto* policyRow = new QHBoxLayout;
    policyRow->addWidget(lblPolicy);
    policyRow->addWidget(m_comboPolicy);
    policyRow->addStretch();
    // Right above the script's own buttons: in the path's row it would make
    // the page, and with it the window, wider than the status page needs.
    policyRow->addWidget(m_btnTestScript);
    auto* scriptRow = new QHBoxLayout;
    scriptRow->addWidget(m_lblBatPath);
    scriptRow->addWidget(m_lineEditBatPath);
    scriptRow->addWidget(m_btnOpenBatFile);
    scriptRow->addWidget(m_btnClearBatFile);
    auto* groupLayout = new QVBoxLayout;
    groupLayout->addLayout(policyRow);
    groupLayout->addLayout(scriptRow);
    auto* groupBox = new QGroupBox(tr("Post Process"));
    groupBox->setLayout(groupLayout);

    auto* pageLayout = new QVBoxLayout(this);
    pageLayout->addWidget(m_tableView);
    pageLayout->addWidget(groupBox);
    auto* powerEvents = new QGroupBox(tr("Power events"));
    powerEvents->setLayout(createPowerEventControls());
    pageLayout->addWidget(powerEvents);

    connect(m_tableView, SIGNAL(doubleClicked(const QModelIndex&)), this, SLOT(slotOnRowDoubleClicked(QModelIndex)));
    connect(m_configDialog, SIGNAL(signalDialogShown(bool)), this, SLOT(slotOnConfigDialogShown(bool)));
    connect(m_configDialog, SIGNAL(signalDataChanged(qint32, qint16, bool)),
            m_dataModel, SLOT(slotOnModifyRegister(qint32, qint16, bool)));
    connect(m_btnOpenBatFile, SIGNAL(clicked()), this, SLOT(slotOnOpenBatFile()));
    connect(m_btnClearBatFile, SIGNAL(clicked()), this, SLOT(slotOnClearBatFile()));
    connect(m_btnTestScript, SIGNAL(clicked()), this, SLOT(slotOnTestScript()));

    loadSettings();

    m_timer = new QTimer;
    m_timer->setInterval(kRefreshIntervalMs);
    connect(m_timer, SIGNAL(timeout()), this, SLOT(slotOnUpdate()));

    m_worker = new registerWorker;
    connect(m_worker, &registerWorker::signalTransactionDone, this, &configWidget::slotOnTransactionDone);
}

QLayout* configWidget::createPowerEventControls()
{
    auto spinBox = [](const char* name, int highest, const QString& offText) {
        auto* box = new QSpinBox;
        box->setObjectName(QLatin1String(name));
        box->setRange(0, highest);
        box->setSpecialValueText(offText);
        return box;
    };
    m_spinDelay = spinBox("m_spinDelay", settingsStore::kMaxBatDelay, QString());
    m_spinLowLevel = spinBox("m_spinLowLevel", 100, tr("off"));
    m_spinLowRuntime = spinBox("m_spinLowRuntime", 65535, tr("off"));
    m_checkOnRestore = new QCheckBox(tr("Also run when DC returns"));
    m_checkOnRestore->setObjectName(QStringLiteral("m_checkOnRestore"));
    m_checkNotify = new QCheckBox(tr("Notifications"));
    m_checkNotify->setObjectName(QStringLiteral("m_checkNotify"));
    m_checkNutFeed = new QCheckBox(tr("Feed NUT (dummy-ups data file)"));
    m_checkNutFeed->setObjectName(QStringLiteral("m_checkNutFeed"));
    m_lineEditNutFile = new QLineEdit;
    m_lineEditNutFile->setObjectName(QStringLiteral("m_lineEditNutFile"));
    m_lineEditNutFile->setPlaceholderText(QStringLiteral("/var/lib/qr7215/qr7215.dev"));

    connect(m_spinDelay, SIGNAL(valueChanged(int)), this, SLOT(slotOnDelayChanged(int)));
    connect(m_spinLowLevel, SIGNAL(valueChanged(int)), this, SLOT(slotOnLowLevelChanged(int)));
    connect(m_spinLowRuntime, SIGNAL(valueChanged(int)), this, SLOT(slotOnLowRuntimeChanged(int)));
    connect(m_checkOnRestore, SIGNAL(toggled(bool)), this, SLOT(slotOnRestoreToggled(bool)));
    connect(m_checkNotify, SIGNAL(toggled(bool)), this, SLOT(slotOnNotifyToggled(bool)));
    connect(m_checkNutFeed, SIGNAL(toggled(bool)), this, SLOT(slotOnNutFeedToggled(bool)));
    connect(m_lineEditNutFile, SIGNAL(editingFinished()), this, SLOT(slotOnNutFileEdited()));

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    form->addRow(tr("Delay (s)"), m_spinDelay);
    form->addRow(tr("Run at battery level \u2264 (%)"), m_spinLowLevel);
    form->addRow(tr("Run at runtime \u2264 (min)"), m_spinLowRuntime);
    form->addRow(m_checkOnRestore);
    form->addRow(m_checkNotify);
    form->addRow(m_checkNutFeed, m_lineEditNutFile);
    return form;
}

configWidget::~configWidget()
{
    delete m_timer;
    delete m_worker;
    m_tableView->setModel(nullptr);
    delete m_dataModel;
}

bool configWidget::isRefreshing() const
{
    return m_timer->isActive();
}

bool configWidget::isExchanging() const
{
    return m_worker->isBusy();
}

void configWidget::slotOnSetEnabled(bool enabled)
{
    if (enabled) {
        // Values left from a link that closed while the page was off go now,
        // not at the first tick.
        m_dataModel->followLink(g_comAdapter.isConnected());
        showValues();
        m_timer->start();
        return;
    }
    m_timer->stop();
    m_refreshOwed = false;
    // A write the operator asked for goes out while the page is on, or not at
    // all. An exchange already on the line is not waited for: the adapter
    // keeps the line to one exchange at a time, and its outcome is taken in
    // whenever it comes.
    m_dataModel->discardPendingWrite();
}

void configWidget::slotOnConfigDialogShown(bool)
{
}

void configWidget::slotOnUpdate()
{
    // No repaint of the whole page here: the table repaints what changed,
    // and a page-wide one ten times a second doubled the GUI's share of a
    // core while the Config tab is current.
    const bool connected = g_comAdapter.isConnected();
    m_dataModel->followLink(connected);
    // The exchange of this refresh goes to the worker; the table shows its
    // outcome when it comes back. A refresh that finds the last exchange
    // still running starts none: it is owed, and made as soon as that
    // exchange is over, as a timer held up by a long slot fires once when it
    // returns. So a line slower than the refresh is read back to back, and
    // exchanges never pile up behind a slow line or a silent module.
    if (m_worker->isBusy()) {
        m_refreshOwed = true;
    } else if (connected) {
        m_worker->submit(m_dataModel->takeTransaction());
        return;
    }
    showValues();
}

void configWidget::slotOnTransactionDone(const registerTransaction& transaction)
{
    m_dataModel->applyTransaction(transaction);
    showValues();
    if (m_refreshOwed && m_timer->isActive()) {
        m_refreshOwed = false;
        slotOnUpdate();
    }
}

void configWidget::showValues()
{
    QItemSelectionModel* selection = m_tableView->selectionModel();
    const QModelIndexList selected = selection->selectedIndexes();
    // The model announces no value changes; a reset is what repaints them.
    m_tableView->reset();
    for (const QModelIndex& index : selected)
        selection->select(index, QItemSelectionModel::Select);
}

void configWidget::slotOnRowDoubleClicked(QModelIndex index)
{
    DataObject* row = m_dataModel->getDataObject(static_cast<short>(index.row()));
    if (row && row->isWritable())
        m_configDialog->slotOnShowDialog(row, 0);
}

void configWidget::slotOnOpenBatFile()
{
    // A cancelled dialog gives an empty path: the script stays as it was, so
    // a slip of the hand never leaves the next power loss without it.
    const QString chosen = chooseScriptFile();
    if (chosen.isEmpty())
        return;
    m_batPath = chosen;
    m_lineEditBatPath->setText(m_batPath);
    settingsStore::setBatPath(m_batPath);
    // Told now, not at the power loss: a file the system would not run as
    // it is goes through the shell, or cannot be run at all.
    const QString how = platform::scriptProcess::describe(platform::scriptProcess::nativePath(m_batPath));
    if (!how.isEmpty())
        g_consolePrint.showMsg(how);
}

void configWidget::slotOnClearBatFile()
{
    m_batPath.clear();
    m_lineEditBatPath->clear();
    settingsStore::setBatPath(m_batPath);
}

void configWidget::slotOnLoadFromRegisterTable()
{
    loadSettings();
}

void configWidget::slotOnSaveToRegisterTable()
{
    settingsStore::setBatPath(m_batPath);
}

void configWidget::slotOnPolicyChanged(int policy)
{
    // -1 only means the combo box was emptied; there is no policy to store.
    if (policy < 0)
        return;
    m_policy = static_cast<quint32>(policy);
    settingsStore::setBatExecutePolicy(m_policy);
    emit signalOnPolicyChanged(policy);
}

void configWidget::slotOnDelayChanged(int seconds)
{
    settingsStore::setBatDelay(seconds);
    emit signalOnPowerEventSettingsChanged();
}

void configWidget::slotOnLowLevelChanged(int percent)
{
    settingsStore::setBatLowLevel(percent);
    emit signalOnPowerEventSettingsChanged();
}

void configWidget::slotOnLowRuntimeChanged(int minutes)
{
    settingsStore::setBatLowRuntime(minutes);
    emit signalOnPowerEventSettingsChanged();
}

void configWidget::slotOnRestoreToggled(bool on)
{
    settingsStore::setBatOnRestore(on);
    emit signalOnPowerEventSettingsChanged();
}

void configWidget::slotOnNotifyToggled(bool on)
{
    settingsStore::setNotify(on);
    emit signalOnPowerEventSettingsChanged();
}

void configWidget::slotOnNutFeedToggled(bool on)
{
    settingsStore::setNutFeed(on);
    emit signalOnPowerEventSettingsChanged();
}

void configWidget::slotOnNutFileEdited()
{
    const QString path = m_lineEditNutFile->text().trimmed();
    if (path == settingsStore::nutFilePath())
        return;
    settingsStore::setNutFilePath(path);
    emit signalOnPowerEventSettingsChanged();
}

void configWidget::slotOnTestScript()
{
    emit signalTestScript();
}

QString configWidget::chooseScriptFile()
{
    return QFileDialog::getOpenFileName(this, tr("Open bat file"), QDir::currentPath(), scriptFile::dialogFilter());
}

void configWidget::loadSettings()
{
    m_batPath = settingsStore::batPath();
    m_lineEditBatPath->setText(m_batPath);

    // Showing what is stored is not a change: nothing is written back.
    {
        const QSignalBlocker b1(m_spinDelay), b2(m_spinLowLevel), b3(m_spinLowRuntime), b4(m_checkOnRestore),
            b5(m_checkNotify), b6(m_checkNutFeed), b7(m_lineEditNutFile);
        m_spinDelay->setValue(settingsStore::batDelay());
        m_spinLowLevel->setValue(settingsStore::batLowLevel());
        m_spinLowRuntime->setValue(settingsStore::batLowRuntime());
        m_checkOnRestore->setChecked(settingsStore::batOnRestore());
        m_checkNotify->setChecked(settingsStore::notify());
        m_checkNutFeed->setChecked(settingsStore::nutFeed());
        m_lineEditNutFile->setText(settingsStore::nutFilePath());
    }

    const quint32 stored = settingsStore::batExecutePolicy();
    if (stored < kPolicyCount) {
        // A change of item stores the value again and announces it.
        m_comboPolicy->setCurrentIndex(static_cast<int>(stored));
        return;
    }
    // A value no item stands for runs no script, as "NULL" does: show that,
    // and leave the stored value as the operator's store has it.
    const bool wasShown = m_comboPolicy->currentIndex() == 0;
    {
        const QSignalBlocker blocker(m_comboPolicy);
        m_comboPolicy->setCurrentIndex(0);
    }
    m_policy = 0;
    if (!wasShown)
        emit signalOnPolicyChanged(0);
}
