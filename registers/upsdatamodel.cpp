#include "upsdatamodel.h"

#include "comadapter.h"
#include "consoleprint.h"
#include "datafolder.h"
#include "dataobject.h"
#include "registertablefile.h"

#include <QColor>
#include <QCoreApplication>
#include <QDir>

namespace {

const QString kConfigFolder = QStringLiteral("/iconfigs");
const QString kConfigFileName = QStringLiteral("config_registers.xml");
constexpr int kColumnCount = 5;
constexpr int kValueColumn = 2;

} // namespace

upsDataModel::upsDataModel(QObject* parent)
    : QAbstractTableModel(parent)
{
    m_appDir = QCoreApplication::applicationDirPath();
    const QString folder = platform::dataFolder(m_appDir) + kConfigFolder;
    if (!QDir(folder).exists())
        QDir().mkpath(folder);
    m_configFile.setFileName(folder + QStringLiteral("/") + kConfigFileName);
    loadRegisterTable();
}

upsDataModel::~upsDataModel()
{
    qDeleteAll(m_dataList);
}

int upsDataModel::loadRegisterTable()
{
    QList<DataObject*> rows;
    const int result = registerTableFile::read(m_configFile, &rows);
    if (result != registerTableFile::Read)
        return result;

    beginResetModel();
    qDeleteAll(m_dataList);
    m_dataList = rows;
    endResetModel();
    return result;
}

int upsDataModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_dataList.size();
}

int upsDataModel::columnCount(const QModelIndex&) const
{
    return kColumnCount;
}

QVariant upsDataModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || m_dataList.isEmpty() || index.row() < 0 || index.row() >= m_dataList.size())
        return QVariant();

    switch (role) {
    case Qt::DisplayRole: {
        const DataObject* row = m_dataList.at(index.row());
        switch (index.column()) {
        case 0:
            return row->addr;
        case 1:
            return row->name;
        case 2:
            return row->hasValue ? QString::number(row->value, 10) : QString();
        case 3: {
            const QString text = registerTableFile::accessText(row->rw);
            return text.isEmpty() ? QVariant() : QVariant(text);
        }
        case 4:
            return row->description;
        default:
            return QVariant();
        }
    }
    case Qt::TextAlignmentRole:
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::BackgroundRole:
        return QColor(Qt::transparent);
    case Qt::ForegroundRole:
        return QColor(Qt::black);
    default:
        return QVariant();
    }
}

bool upsDataModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.column() != kValueColumn
        || index.row() < 0 || index.row() >= m_dataList.size())
        return false;

    qint16 word = 0;
    if (value.userType() == QMetaType::Short) {
        word = value.value<qint16>();
    } else {
        QVariant converted = value;
        if (converted.convert(QMetaType::Short))
            word = converted.value<qint16>();
    }
    // Only the model's copy changes: the next refresh shows the device's value again.
    m_dataList[index.row()]->value = static_cast<quint16>(word);
    return true;
}

QVariant upsDataModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || section < 0)
        return QVariant();
    const QStringList& headers = orientation == Qt::Horizontal ? m_horizontalHeaders : m_verticalHeaders;
    return section < headers.size() ? QVariant(headers.at(section)) : QVariant();
}

Qt::ItemFlags upsDataModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return QAbstractTableModel::flags(index);
    Qt::ItemFlags result = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (index.column() == kValueColumn && index.row() >= 0 && index.row() < m_dataList.size()
        && m_dataList.at(index.row())->isWritable())
        result |= Qt::ItemIsEditable;
    return result;
}

DataObject* upsDataModel::getDataObject(short row) const
{
    if (row < 0 || row >= m_dataList.size())
        return nullptr;
    return m_dataList.at(row);
}

void upsDataModel::setHorizontalHeaderList(const QStringList& list)
{
    m_horizontalHeaders = list;
}

int upsDataModel::blockIndex(quint32 addr)
{
    if (addr < kFirstRegister || addr >= quint32(kFirstRegister) + kBlockCount)
        return -1;
    return static_cast<int>(addr - kFirstRegister);
}

void upsDataModel::followLink(bool connected)
{
    if (connected) {
        m_linkUp = true;
        return;
    }
    if (m_linkUp) {
        m_linkUp = false;
        // Whatever is still on its way from that link is of no use any more.
        ++m_link;
    }
    discardPendingWrite();
    if (!m_haveValues)
        return;
    m_haveValues = false;
    for (DataObject* row : qAsConst(m_dataList))
        row->hasValue = false;
}

void upsDataModel::discardPendingWrite()
{
    if (!m_modify)
        return;
    m_modify = false;
    logDiscarded(static_cast<quint32>(m_regAddr), m_regValue);
}

void upsDataModel::logDiscarded(quint32 regAddr, quint16 value)
{
    g_consolePrint.showMsg(QStringLiteral("Write of register %1 discarded: the link closed before it was sent. (value %2)")
                               .arg(regAddr)
                               .arg(value));
}

void upsDataModel::slotOnModifyRegister(qint32 regAddr, qint16 value, bool modify)
{
    m_modify = modify;
    m_regValue = static_cast<quint16>(value);
    m_regAddr = regAddr;
    ++m_request;
}

registerTransaction upsDataModel::takeTransaction()
{
    registerTransaction transaction = m_modify
        ? registerTransaction::writeRegister(static_cast<quint32>(m_regAddr), m_regValue, m_request)
        : registerTransaction::readBlock();
    // The write takes this refresh's exchange; the next refresh reads its effect.
    m_modify = false;
    transaction.link = m_link;
    return transaction;
}

void upsDataModel::applyTransaction(const registerTransaction& transaction)
{
    if (transaction.isWrite()) {
        // A write that found the link closed is dropped, never kept for the
        // next link: that may lead to another module. One that went out has
        // been reported by the adapter.
        if (!transaction.performed)
            logDiscarded(transaction.regAddr, transaction.value);
        return;
    }
    // A failed read leaves the table as it was rather than showing a buffer
    // no read filled, and a block from a link that has gone since is not shown.
    if (!transaction.hasBlock() || transaction.link != m_link || !g_comAdapter.isConnected())
        return;
    for (DataObject* row : qAsConst(m_dataList)) {
        const int index = blockIndex(row->addr);
        if (index < 0)
            continue;
        row->value = transaction.values[static_cast<size_t>(index)];
        row->hasValue = true;
        m_haveValues = true;
    }
}

void upsDataModel::updateData()
{
    const bool connected = g_comAdapter.isConnected();
    followLink(connected);
    if (!connected)
        return;
    registerTransaction transaction = takeTransaction();
    transaction.run();
    applyTransaction(transaction);
}
