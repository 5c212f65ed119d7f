#include "configdialog.h"
#include "ui_configdialog.h"

#include "dataobject.h"
#include "registervalue.h"

#include <QIcon>
#include <QPushButton>

configDialog::configDialog(QWidget* parent)
    : QDialog(parent)
    , m_ui(new Ui::configDialog)
{
    m_ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    setWindowModality(Qt::ApplicationModal);
    setWindowIcon(QIcon(QStringLiteral(":/mainWindow/images/UPS/config.png")));
    setWindowTitle(tr("Set Register"));
    fitFormToFont();

    connect(m_ui->m_buttonBox, SIGNAL(accepted()), this, SLOT(slotOnAccept()));
    connect(m_ui->m_buttonBox, SIGNAL(rejected()), this, SLOT(slotOnExit()));
    // Ok stays off while the field holds anything but a register value, so a
    // typing slip can never turn into a write of 0 or of a truncated number.
    connect(m_ui->m_lineEditRegisterValue, &QLineEdit::textChanged, this, &configDialog::updateOkButton);
    updateOkButton();
}

configDialog::~configDialog() = default;

void configDialog::fitFormToFont()
{
    // The form's 110-pixel labels and 240 x 150 frame suit a 9-point dialog
    // font; a wider platform font would cut "Register Address:" off, so the
    // labels and the frame grow just enough for their texts, and no further.
    int labelWidth = 110;
    for (QLabel* label : {m_ui->label_3, m_ui->label_4})
        labelWidth = qMax(labelWidth, label->sizeHint().width());
    for (QLabel* label : {m_ui->label_3, m_ui->label_4}) {
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
    // A row without a device value offers an empty field: the operator types one.
    m_ui->m_lineEditRegisterValue->setText(dataObj->hasValue ? QString::number(dataObj->value, 10) : QString());
    updateOkButton();
    emit signalDialogShown(true);
    show();
}

void configDialog::slotOnAccept()
{
    quint16 value = 0;
    if (!registerValue::parse(m_ui->m_lineEditRegisterValue->text(), &value))
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
    if (QPushButton* ok = m_ui->m_buttonBox->button(QDialogButtonBox::Ok))
        ok->setEnabled(registerValue::parse(m_ui->m_lineEditRegisterValue->text(), nullptr));
}
