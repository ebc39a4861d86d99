#include "../machinestore.h"
// Placeholder until the Linux backend lands.
quint32 setRegistryValue(quint32, const QString &, const QString &, const QString &) { return 1; }
VariableWrite setEnvironmentVariable(const QString &, const QString &) { return {}; }
quint32 writeProfileString(const QString &, const QString &, const QString &, const QString &) { return 1; }
void broadcastEnvironmentChange() {}
QString describeStoreError(quint32) { return QString(); }
