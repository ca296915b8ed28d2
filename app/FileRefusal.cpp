#include "FileRefusal.h"

namespace {

// "байт" after 1, 5 to 20, 21, 25 …; "байта" after 2 to 4, 22 to 24 ….
QString Bytes(std::uintmax_t n) {
  const std::uintmax_t last = n % 10, lastTwo = n % 100;
  const bool few = last >= 2 && last <= 4 && (lastTwo < 12 || lastTwo > 14);
  return QString::number(n) + (few ? QStringLiteral(" байта") : QStringLiteral(" байт"));
}

// A character as the reason quotes it: printable ones in quotes, others by code.
QString Shown(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte >= 0x20 && byte < 0x7F) return QStringLiteral("«%1»").arg(QChar(byte));
  return QStringLiteral("байт 0x") + QString::number(byte, 16).rightJustified(2, u'0').toUpper();
}

}  // namespace

QString WrongSizeReason(std::uintmax_t size) {
  return QStringLiteral("В файле %1, а в файле обновления ровно %2.").arg(Bytes(size), Bytes(UpdateFileSize));
}

QString DamagedFileReason(const TUpdateFileFault& fault) {
  const QString region =
      fault.Line <= UpdateFileRegionLines ? QStringLiteral("память программ") : QStringLiteral("дата-флешь");
  const QString where = QStringLiteral("Строка %1 (%2)").arg(fault.Line).arg(region);
  const QString at = QStringLiteral("%1, знак %2: ").arg(where).arg(fault.Column);
  switch (fault.Kind) {
    case TUpdateFileFaultKind::NotHexDigit:
      return at + Shown(fault.Character) + QStringLiteral(" — не шестнадцатеричная цифра.");
    case TUpdateFileFaultKind::LineTooShort: return at + QStringLiteral("строка короче 32 знаков.");
    case TUpdateFileFaultKind::LineTooLong: return at + QStringLiteral("строка длиннее 32 знаков.");
    case TUpdateFileFaultKind::LfWithoutCr:
      return at + QStringLiteral("строка кончается переводом строки (LF) без возврата каретки (CR).");
    case TUpdateFileFaultKind::CrWithoutLf:
      return at + QStringLiteral("за возвратом каретки (CR) нет перевода строки (LF).");
    case TUpdateFileFaultKind::FileTooShort: return QStringLiteral("Файл кончается раньше строки %1.").arg(fault.Line);
  }
  return where + QStringLiteral(": файл повреждён.");
}
