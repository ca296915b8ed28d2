// The window's port hints on Linux: device files, their groups, fuser.
#include "PortHintSystem.h"

namespace {
QString Q(const std::string& text) { return QString::fromStdString(text); }
}  // namespace

namespace PortHintSystem {

QString PortShown(const std::string& name, const TPortProblem& problem) {
  if (problem.devicePath.empty() || problem.devicePath == name) return Q(name);
  return QStringLiteral("%1 (%2)").arg(Q(name), Q(problem.devicePath));
}

QString PermissionHint(const QString& port, const TPortProblem& problem) {
  if (!problem.groupMayUse) {
    const QString owner = problem.group.empty() ? QString() : QStringLiteral(" (группа %1)").arg(Q(problem.group));
    return QStringLiteral(
               "Нет прав на порт %1: он открыт только администратору%2. Попросите администратора "
               "дать доступ к порту, например правилом udev с GROUP=\"dialout\", MODE=\"0660\".")
        .arg(port, owner);
  }
  if (problem.alreadyMember)
    return QStringLiteral(
               "Нет прав на порт %1. Вы уже в группе %2, но это вступит в силу после нового входа: "
               "выйдите из системы и войдите заново.")
        .arg(port, Q(problem.group));
  return QStringLiteral(
             "Нет прав на порт %1: он открыт группе %2. Добавьте себя в эту группу командой\n"
             "sudo usermod -aG %2 $USER\n"
             "и войдите в систему заново.")
      .arg(port, Q(problem.group));
}

QString BusyHint(const QString& port, const std::string& name, const TPortProblem& problem) {
  return QStringLiteral(
             "Порт %1 занят другой программой. Закройте её и включите загрузку снова. "
             "Какая программа держит порт, покажет команда: fuser -v %2")
      .arg(port, Q(problem.devicePath.empty() ? name : problem.devicePath));
}

QString NotFoundAdvice(bool portsExist) {
  if (portsExist) return {};
  return QStringLiteral(" Других последовательных портов тоже нет: подключите адаптер и выберите его в списке.");
}

}  // namespace PortHintSystem
