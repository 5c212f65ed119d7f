#include "configdialog.h"
#include "ui_configdialog.h"

#include "dataobject.h"
#include "registervalue.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include <initializer_list>

configDialog::configDialog(QWidget* parent)
    : QDialog(parent)
    , m_ui(new Ui::configDialog)
{
    m_ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    setWindowModality(Qt::ApplicationModal);
    setWindowIcon(QIcon(QStringLiteral(":/mainWindow/images/UPS/config.png")));
    setWindowTitle(tr("Set Register"));
    addRegisterRows();
    fitFormToFont();

    connect(m_ui->m_buttonBox, SIGNAL(accepted()), this, SLOT(slotOnAccept()));
    connect(m_ui->m_buttonBox, SIGNAL(rejected()), this, SLOT(slotOnExit()));
    // Ok stays off while the field holds anything but a register value, so a
    // typing slip can never turn into a write of 0 or of a truncated number.
    connect(m_ui->m_lineEditRegisterValue, &QLineEdit::textChanged, this, &configDialog::updateOkButton);
    updateOkButton();
}

configDialog::~configDialog() = default;

void configDialog::addRegisterRows()
{
    auto labelled = [this](const QString& caption, QLabel* value, const char* name) {
        auto* row = new QWidget;
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(6);
        auto* label = new QLabel(caption);
        label->setObjectName(QLatin1String(name));
        label->setAlignment(m_ui->label_3->alignment());
        layout->addWidget(label);
        layout->addWidget(value, 1);
        return row;
    };
    m_lblRegisterNameValue = new QLabel;
    m_lblRegisterNameValue->setObjectName(QStringLiteral("m_lblRegisterNameValue"));
    m_lblRegisterNameValue->setWordWrap(true);
    m_lblRangeValue = new QLabel;
    m_lblRangeValue->setObjectName(QStringLiteral("m_lblRangeValue"));
    m_lblValueProblem = new QLabel;
    m_lblValueProblem->setObjectName(QStringLiteral("m_lblValueProblem"));
    m_lblValueProblem->setWordWrap(true);

    // Name above the address, range and any refusal below the value.
    m_ui->verticalLayout->insertWidget(0, labelled(tr("Register Name:"), m_lblRegisterNameValue, "lblRegisterName"));
    m_rangeRow = labelled(tr("Range:"), m_lblRangeValue, "lblRange");
    m_ui->verticalLayout->addWidget(m_rangeRow);
    m_ui->verticalLayout->addWidget(m_lblValueProblem);
    m_rangeRow->hide();
}

void configDialog::fitFormToFont()
{
    // The form's 110-pixel labels and 240 x 150 frame suit a 9-point dialog
    // font; a wider platform font would cut "Register Address:" off, so the
    // labels and the frame grow just enough for their texts, and no further.
    const std::initializer_list<QLabel*> labels{m_ui->label_3, m_ui->label_4,
                                                findChild<QLabel*>(QStringLiteral("lblRegisterName")),
                                                findChild<QLabel*>(QStringLiteral("lblRange"))};
    int labelWidth = 110;
    for (QLabel* label : labels)
        labelWidth = qMax(labelWidth, label->sizeHint().width());
    for (QLabel* label : labels) {
        label->setMinimumWidth(labelWidth);
        label->setMaximumWidth(labelWidth);
    }
    setFixedSize(QSize(240, 150).expandedTo(sizeHint()));
}

void configDialog::slotOnShowDialog(DataObject* dataObj, short)
{
    if (!dataObj)
        return;
    m_ui->m_lblRegisterAddressValue->setText(QString::number(dataObj->addr, 10));
    m_lblRegisterNameValue->setText(dataObj->name);
    m_minimum = dataObj->minimum;
    m_maximum = dataObj->maximum;
    m_lblRangeValue->setText(tr("%1 to %2").arg(m_minimum).arg(m_maximum));
    m_rangeRow->setVisible(dataObj->hasRange);
    // A row without a device value offers an empty field: the operator types one.
    m_ui->m_lineEditRegisterValue->setText(dataObj->hasValue ? QString::number(dataObj->value, 10) : QString());
    updateOkButton();
    emit signalDialogShown(true);
    show();
}

void configDialog::slotOnAccept()
{
    quint16 value = 0;
    if (registerValue::check(m_ui->m_lineEditRegisterValue->text(), m_minimum, m_maximum, &value)
        != registerValue::Accepted)
        return;
    const uint address = m_ui->m_lblRegisterAddressValue->text().toUInt(nullptr, 10);
    emit signalDataChanged(static_cast<qint32>(address), static_cast<qint16>(value), true);
    emit signalDialogShown(false);
    hide();
}

void configDialog::slotOnExit()
{
    emit signalDialogShown(false);
    hide();
}

void configDialog::slotOnButtonBoxClicked(QAbstractButton*)
{
}

void configDialog::updateOkButton()
{
    const QString text = m_ui->m_lineEditRegisterValue->text();
    const registerValue::verdict verdict = registerValue::check(text, m_minimum, m_maximum, nullptr);
    QString problem;
    if (verdict == registerValue::NotANumber)
        problem = tr("Enter a whole number from %1 to %2.").arg(m_minimum).arg(m_maximum);
    else if (verdict == registerValue::OutOfRange)
        problem = tr("%1 is outside the range %2 to %3 of this register.").arg(text).arg(m_minimum).arg(m_maximum);
    m_lblValueProblem->setText(problem);
    m_lblValueProblem->setVisible(!problem.isEmpty());
    // A long name or a refusal may need more room than the form has.
    fitFormToFont();
    if (QPushButton* ok = m_ui->m_buttonBox->button(QDialogButtonBox::Ok))
        ok->setEnabled(verdict == registerValue::Accepted);
}
