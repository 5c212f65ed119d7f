#include "dataobject.h"

DataObject::DataObject(QObject* parent)
    : QObject(parent)
{
}
