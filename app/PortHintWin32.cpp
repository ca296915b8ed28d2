// The window's port hints on Windows: a port held by another program (error
// 5), Device Manager's list of ports and the adapter's driver.
#include "PortHintSystem.h"

namespace PortHintSystem {

// "\\.\COM5" says nothing that "COM5" does not.
QString PortShown(const std::string& name, const TPortProblem&) { return QString::fromStdString(name); }

QString PermissionHint(const QString& port, const TPortProblem&) {
  return QStringLiteral("Нет доступа к порту %1. Попросите администратора этого компьютера дать доступ к порту.")
      .arg(port);
}

QString BusyHint(const QString& port, const std::string&, const TPortProblem&) {
  return QStringLiteral(
             "Порт %1 занят другой программой (программой-терминалом, другим загрузчиком, "
             "программой настройки адаптера). Закройте её и включите загрузку снова.")
      .arg(port);
}

QString NotFoundAdvice(bool portsExist) {
  const QString where = QStringLiteral(
      " Номер порта адаптера показывает Диспетчер устройств, раздел «Порты (COM и LPT)»; если адаптера там нет "
      "или он отмечен жёлтым знаком, установите драйвер адаптера.");
  return portsExist ? where : QStringLiteral(" Других последовательных портов тоже нет: подключите адаптер.") + where;
}

}  // namespace PortHintSystem
