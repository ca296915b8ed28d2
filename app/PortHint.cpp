#include "PortHint.h"

#include <QStringList>

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// "COM1 (/dev/ttyS0)" for a classic name, the path alone otherwise.
QString PortName(const std::string& name, const TPortProblem& problem) {
  if (problem.devicePath.empty() || problem.devicePath == name) return Q(name);
  return QStringLiteral("%1 (%2)").arg(Q(name), Q(problem.devicePath));
}

QString PermissionHint(const QString& port, const TPortProblem& problem) {
  if (!problem.groupMayUse) {
    const QString owner = problem.group.empty() ? QString() : QStringLiteral(" (группа %1)").arg(Q(problem.group));
    return QStringLiteral("Нет прав на порт %1: он открыт только администратору%2. Попросите администратора "
                          "дать доступ к порту, например правилом udev с GROUP=\"dialout\", MODE=\"0660\".")
        .arg(port, owner);
  }
  if (problem.alreadyMember)
    return QStringLiteral("Нет прав на порт %1. Вы уже в группе %2, но это вступит в силу после нового входа: "
                          "выйдите из системы и войдите заново.")
        .arg(port, Q(problem.group));
  return QStringLiteral("Нет прав на порт %1: он открыт группе %2. Добавьте себя в эту группу командой\n"
                        "sudo usermod -aG %2 $USER\n"
                        "и войдите в систему заново.")
      .arg(port, Q(problem.group));
}

QString NotFoundHint(const QString& port, const TPortProblem& problem) {
  QString text = QStringLiteral("Порт %1 на этом компьютере не найден.").arg(port);
  if (problem.existingPorts.empty())
    return text + QStringLiteral(" Других последовательных портов тоже нет: подключите адаптер и выберите его в списке.");
  QStringList names;
  for (const TPortInfo& existing : problem.existingPorts) names << Q(existing.label);
  return text + QStringLiteral(" Есть порты: %1.").arg(names.join(QStringLiteral(", ")));
}

}  // namespace

QString PortHintText(const std::string& name, const TPortProblem& problem) {
  const QString port = PortName(name, problem);
  switch (problem.kind) {
    case TPortProblemKind::PermissionDenied:
      return PermissionHint(port, problem);
    case TPortProblemKind::Busy:
      return QStringLiteral("Порт %1 занят другой программой. Закройте её и включите загрузку снова. "
                            "Какая программа держит порт, покажет команда: fuser -v %2")
          .arg(port, Q(problem.devicePath.empty() ? name : problem.devicePath));
    case TPortProblemKind::NotSerialPort:
      return QStringLiteral("%1 — не последовательный порт. Выберите в списке порт, к которому подключен БК.")
          .arg(port);
    case TPortProblemKind::NotFound:
      return NotFoundHint(port, problem);
    case TPortProblemKind::None:
      break;
  }
  return {};
}
