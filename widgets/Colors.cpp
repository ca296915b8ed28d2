#include "Colors.h"

#include <QGuiApplication>

namespace {

struct SystemEntry {
  bool fromPalette;
  QPalette::ColorRole role;
  TColor fallback;  // used for indices that the palette has no role for
};

// Which palette role stands for each system colour index.
SystemEntry SystemEntryFor(unsigned index) {
  switch (index) {
    case 1: return {true, QPalette::Window, 0};
    case 4: return {true, QPalette::Window, 0};
    case 5: return {true, QPalette::Base, 0};
    case 6: return {true, QPalette::Shadow, 0};
    case 7: return {true, QPalette::WindowText, 0};
    case 8: return {true, QPalette::WindowText, 0};
    case 12: return {true, QPalette::Dark, 0};
    case 13: return {true, QPalette::Highlight, 0};
    case 14: return {true, QPalette::HighlightedText, 0};
    case 15: return {true, QPalette::Button, 0};
    case 16: return {true, QPalette::Dark, 0};
    case 17: return {true, QPalette::PlaceholderText, 0};
    case 18: return {true, QPalette::ButtonText, 0};
    case 20: return {true, QPalette::Light, 0};
    case 21: return {true, QPalette::Shadow, 0};
    case 22: return {true, QPalette::Midlight, 0};
    case 23: return {true, QPalette::ToolTipText, 0};
    case 24: return {true, QPalette::ToolTipBase, 0};
    default: break;
  }
  // Caption and border colours have no palette role: the classic values.
  switch (index) {
    case 0: return {false, QPalette::NoRole, RGB(200, 200, 200)};
    case 2: return {false, QPalette::NoRole, RGB(153, 180, 209)};
    case 3: return {false, QPalette::NoRole, RGB(191, 205, 219)};
    case 9: return {false, QPalette::NoRole, RGB(0, 0, 0)};
    case 10: return {false, QPalette::NoRole, RGB(180, 180, 180)};
    case 11: return {false, QPalette::NoRole, RGB(244, 247, 252)};
    case 19: return {false, QPalette::NoRole, RGB(0, 0, 0)};
    default: return {false, QPalette::NoRole, RGB(0, 0, 0)};
  }
}

}  // namespace

TColor FromQRgb(QRgb rgb) { return RGB(qRed(rgb), qGreen(rgb), qBlue(rgb)); }

TColor ColorToRGB(TColor color) {
  if (!IsSystemColor(color)) return color & 0x00FFFFFFu;
  const SystemEntry entry = SystemEntryFor(color & 0xFFu);
  if (!entry.fromPalette) return entry.fallback;
  const QPalette palette = QGuiApplication::palette();
  return FromQRgb(palette.color(QPalette::Active, entry.role).rgb());
}

QColor ToQColor(TColor color) {
  const TColor rgb = ColorToRGB(color);
  return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

QPalette ClassicPalette() {
  QPalette p;
  const auto set = [&p](QPalette::ColorRole role, int r, int g, int b) {
    p.setColor(QPalette::All, role, QColor(r, g, b));
  };
  set(QPalette::Window, 240, 240, 240);
  set(QPalette::WindowText, 0, 0, 0);
  set(QPalette::Base, 255, 255, 255);
  set(QPalette::AlternateBase, 245, 245, 245);
  set(QPalette::Button, 240, 240, 240);
  set(QPalette::ButtonText, 0, 0, 0);
  set(QPalette::Light, 255, 255, 255);
  set(QPalette::Midlight, 227, 227, 227);
  set(QPalette::Mid, 200, 200, 200);
  set(QPalette::Dark, 160, 160, 160);
  set(QPalette::Shadow, 0, 0, 0);
  set(QPalette::Text, 0, 0, 0);
  set(QPalette::BrightText, 255, 255, 255);
  set(QPalette::Highlight, 0, 120, 215);
  set(QPalette::HighlightedText, 255, 255, 255);
  set(QPalette::ToolTipBase, 255, 255, 225);
  set(QPalette::ToolTipText, 0, 0, 0);
  set(QPalette::PlaceholderText, 109, 109, 109);
  p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(109, 109, 109));
  p.setColor(QPalette::Disabled, QPalette::Text, QColor(109, 109, 109));
  p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(109, 109, 109));
  return p;
}
