#include "settingsstore.h"

#include "settingslocation.h"

#include <QSettings>

namespace {

const QString kBatPath = QStringLiteral("batPath");
const QString kPolicy = QStringLiteral("batExecutePolicy");

} // namespace

namespace settingsStore {

QString batPath()
{
    QSettings store(platform::settingsStorePath(), platform::settingsStoreFormat());
    return store.value(kBatPath, QVariant()).toString();
}

quint32 batExecutePolicy()
{
    QSettings store(platform::settingsStorePath(), platform::settingsStoreFormat());
    return store.value(kPolicy, QVariant()).toUInt();
}

void setBatPath(const QString& path)
{
    QSettings store(platform::settingsStorePath(), platform::settingsStoreFormat());
    store.setValue(kBatPath, path);
}

void setBatExecutePolicy(quint32 policy)
{
    QSettings store(platform::settingsStorePath(), platform::settingsStoreFormat());
    store.setValue(kPolicy, QVariant::fromValue<uint>(policy));
}

} // namespace settingsStore
