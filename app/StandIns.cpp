#include "app/StandIns.h"

TAboutBoxStandIn::TAboutBoxStandIn(const QString& name, QObject* parent) : QObject(parent) {
    setObjectName(name);
}
