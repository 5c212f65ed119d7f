// The register table: rows read once from iconfigs/config_registers.xml,
// values refreshed from the device by one block read per refresh, and at most
// one pending single-register write that the next refresh sends instead.
#pragma once

#include "registertransaction.h"

#include <QAbstractTableModel>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

class DataObject;

class upsDataModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // The block read brings registers kFirstRegister to kFirstRegister +
    // kBlockCount - 1; a row shows the one its own address names.
    static constexpr quint16 kFirstRegister = registerTransaction::kFirstRegister;
    static constexpr int kBlockCount = registerTransaction::kBlockCount;
    static constexpr int kBufferSize = registerTransaction::kBufferSize;

    explicit upsDataModel(QObject* parent = nullptr);
    ~upsDataModel() override;

    // 0 read (also when it held no rows), -1 cannot be opened, -2 not well-formed.
    int loadRegisterTable();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    DataObject* getDataObject(short row) const;
    void setHorizontalHeaderList(const QStringList& list);

    // Where the table is read from: "iconfigs" in the program's data folder.
    QString configFileName() const { return m_configFile.fileName(); }

    // A refresh in two halves, so that the exchange in between may run on
    // another thread. takeTransaction() gives the exchange of the next
    // refresh: the pending write, which it takes out of the model, or else
    // the block read. applyTransaction() takes its outcome in: a read's block
    // fills the rows whose address it covers, a failed read or one from a
    // link that has gone since changes nothing, and a write that never went
    // out (the link was closed meanwhile) is dropped and logged.
    registerTransaction takeTransaction();
    void applyTransaction(const registerTransaction& transaction);
    bool hasPendingWrite() const { return m_modify; }

    // Told the link's state at every refresh: while it is down no row shows
    // a value and a pending write is dropped and logged.
    void followLink(bool connected);
    // Drops the pending write, if any, with its log line: it will not go out.
    void discardPendingWrite();

    // Position in the block of the register at addr, or -1 outside it.
    static int blockIndex(quint32 addr);

signals:
    void signalUpdateCount(int count);

public slots:
    // One whole refresh on the calling thread: nothing when the adapter is
    // not connected, else the exchange of takeTransaction(), then its outcome.
    void updateData();
    void slotOnModifyRegister(qint32 regAddr, qint16 value, bool modify);

private:
    QList<DataObject*> m_dataList;
    QStringList m_horizontalHeaders;
    QStringList m_verticalHeaders;
    QFile m_configFile;
    QString m_appDir;
    bool m_modify = false;
    int m_regAddr = 0;
    quint16 m_regValue = 0;
    // Counts the operator's write requests; each write carries its number.
    quint64 m_request = 0;
    // Counts the links the model has seen go down, so that a block read on
    // one never fills the table after it has gone.
    quint64 m_link = 0;
    bool m_linkUp = false;
    // Some row shows a value.
    bool m_haveValues = false;

    static void logDiscarded(quint32 regAddr, quint16 value);
};
