#include "PortHint.h"

#include <QStringList>

#include "PortHintSystem.h"

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

QString NotFoundHint(const QString& port, const TPortProblem& problem) {
  QString text = QStringLiteral("Порт %1 на этом компьютере не найден.").arg(port);
  if (problem.existingPorts.empty()) return text + PortHintSystem::NotFoundAdvice(false);
  QStringList names;
  for (const TPortInfo& existing : problem.existingPorts) names << Q(existing.label);
  return text + QStringLiteral(" Есть порты: %1.").arg(names.join(QStringLiteral(", "))) +
         PortHintSystem::NotFoundAdvice(true);
}

}  // namespace

QString PortHintText(const std::string& name, const TPortProblem& problem) {
  const QString port = PortHintSystem::PortShown(name, problem);
  switch (problem.kind) {
    case TPortProblemKind::PermissionDenied: return PortHintSystem::PermissionHint(port, problem);
    case TPortProblemKind::Busy: return PortHintSystem::BusyHint(port, name, problem);
    case TPortProblemKind::NotSerialPort:
      return QStringLiteral("%1 — не последовательный порт. Выберите в списке порт, к которому подключен БК.")
          .arg(port);
    case TPortProblemKind::NotFound: return NotFoundHint(port, problem);
    case TPortProblemKind::None: break;
  }
  return {};
}
