// widgetshots [DIR]: draws the indicator widgets in their states on the
// offscreen platform and saves each picture as a PNG file in DIR (default
// "widgetshots"), at twice the size so that single pixels can be seen.
#include "ColorButton.h"
#include "Colors.h"
#include "Fonts.h"
#include "Gauges.h"
#include "LedIndicator.h"
#include "LoaderSwitch.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <cstdio>
#include <cstdlib>

namespace {

QString outDir;
int failures = 0;

void Settle() {
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

QImage Shot(QWidget* window, const QRect& area) {
  Settle();
  const QImage all = window->screen()->grabWindow(window->winId()).toImage();
  return all.copy(area);
}

void Save(const QImage& img, const QString& name, int scale = 2) {
  const QImage big = img.scaled(img.size() * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
  const QString path = outDir + "/" + name + ".png";
  if (big.save(path)) {
    std::printf("%s\n", qPrintable(path));
  } else {
    std::fprintf(stderr, "widgetshots: cannot write %s\n", qPrintable(path));
    ++failures;
  }
}

void Mouse(QWidget* w, QEvent::Type type) {
  const QPointF pos(w->width() / 4.0, w->height() / 2.0);
  QMouseEvent e(type, pos, w->mapToGlobal(pos), Qt::LeftButton,
                type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setPalette(ClassicPalette());
  outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("widgetshots");
  QDir().mkpath(outDir);

  // The widgets where the main window puts them, on a button-face window.
  QWidget window;
  window.setFont(MakeFont("MS Sans Serif", -11));
  window.setAutoFillBackground(true);
  window.resize(805, 580);
  auto* led = new TLedIndicator(&window, "LedIndicator1");
  led->setGeometry(8, 72, 113, 25);
  led->SetCaption(QString::fromUtf8("Отклик от БК"));
  auto* sw = new TColorButton(&window);
  ConfigureLoaderSwitch(sw);
  auto* gauge = new TGauge(&window);
  gauge->setGeometry(0, 555, 805, 25);
  window.show();
  Settle();

  const QRect ledArea(8, 72, 113, 25);
  const QRect swArea(360, 72, 433, 33);
  const QRect gaugeArea(0, 555, 805, 25);

  Save(Shot(&window, window.rect()), "window_fresh", 1);
  Save(Shot(&window, ledArea), "led_off", 4);
  led->SetChecked(true);
  Save(Shot(&window, ledArea), "led_on", 4);

  Save(Shot(&window, swArea), "switch_off");
  Mouse(sw, QEvent::MouseButtonPress);
  Save(Shot(&window, swArea), "switch_pressed_on");
  Mouse(sw, QEvent::MouseButtonRelease);
  Save(Shot(&window, swArea), "switch_on");
  sw->SetEnabled(false);
  Save(Shot(&window, swArea), "switch_on_disabled");
  sw->SetEnabled(true);
  sw->SetChecked(false);
  sw->SetTransparent(true);
  Save(Shot(&window, swArea), "switch_transparent");
  sw->SetTransparent(false);
  sw->SetFlat(true);
  Save(Shot(&window, swArea), "switch_flat");
  sw->SetFlat(false);

  gauge->SetMaxValue(512);
  Save(Shot(&window, gaugeArea), "gauge_0");
  gauge->SetProgress(256);
  Save(Shot(&window, gaugeArea), "gauge_50");
  gauge->SetProgress(100);
  Save(Shot(&window, gaugeArea), "gauge_19");
  gauge->SetProgress(512);
  Save(Shot(&window, gaugeArea), "gauge_100");
  gauge->SetProgress(256);
  Save(Shot(&window, window.rect()), "window_loading", 1);

  // Lamp shapes and caption positions.
  {
    QWidget sheet;
    sheet.setFont(MakeFont("MS Sans Serif", -11));
    sheet.setAutoFillBackground(true);
    sheet.resize(560, 170);
    const TLEDShape shapes[] = {sRound, sArrowLeft, sArrowRight, sArrowUp, sArrowDown, sRectangle};
    const TLEDPos positions[] = {lpLeft, lpRight, lpTop, lpBottom};
    for (int i = 0; i < 6; ++i) {
      for (int on = 0; on < 2; ++on) {
        auto* l = new TLedIndicator(&sheet, QStringLiteral("shape %1").arg(i));
        l->setGeometry(10 + i * 90, 10 + on * 40, 85, 33);
        l->LED()->SetShape(shapes[i]);
        l->LED()->SetWidth(16);
        l->LED()->SetHeight(16);
        l->SetChecked(on == 1);
      }
    }
    for (int i = 0; i < 4; ++i) {
      auto* l = new TLedIndicator(&sheet, QStringLiteral("position %1").arg(i));
      l->setGeometry(10 + i * 130, 95, 120, 60);
      l->SetLED_Position(positions[i]);
      l->SetChecked(true);
    }
    sheet.show();
    Save(Shot(&sheet, sheet.rect()), "led_shapes_positions");
  }

  // The fourteen gradient styles, with a glyph strip on the last button.
  {
    QWidget sheet;
    sheet.setFont(MakeFont("MS Sans Serif", -11));
    sheet.setAutoFillBackground(true);
    sheet.resize(620, 330);
    for (int i = 0; i < 14; ++i) {
      auto* b = new TColorButton(&sheet);
      b->setGeometry(10 + (i % 4) * 150, 10 + (i / 4) * 80, 140, 70);
      b->GradBtnFace()->SetColorFrom(RGB(255, 255, 200));
      b->GradBtnFace()->SetColorTo(RGB(40, 60, 160));
      b->GradBtnFace()->SetStyle(static_cast<TGradientStyle>(i));
      b->SetTextOff(QStringLiteral("style %1").arg(i));
      b->SetTextOn(QStringLiteral("style %1 on").arg(i));
      b->SetTextColOff(clWhite);
      if (i == 13) {
        QImage strip(48, 16, QImage::Format_RGB32);
        strip.fill(Qt::white);
        QPainter p(&strip);
        p.setBrush(Qt::red);
        p.drawEllipse(2, 2, 11, 11);
        p.setBrush(Qt::gray);
        p.drawEllipse(18, 2, 11, 11);
        p.setBrush(Qt::green);
        p.drawEllipse(34, 2, 11, 11);
        p.end();
        b->SetGlyph(strip);
        b->SetNumGlyph(3);
        b->SetChecked(true);
      }
    }
    sheet.show();
    Save(Shot(&sheet, sheet.rect()), "switch_gradient_styles");
  }

  // The gauge's other kinds.
  {
    QWidget sheet;
    sheet.setFont(MakeFont("MS Sans Serif", -11));
    sheet.setAutoFillBackground(true);
    sheet.resize(450, 120);
    const TGaugeKind kinds[] = {gkText, gkVerticalBar, gkPie, gkNeedle};
    for (int i = 0; i < 4; ++i) {
      auto* g = new TGauge(&sheet);
      g->setGeometry(10 + i * 110, 10, 100, 100);
      g->SetKind(kinds[i]);
      g->SetProgress(37);
    }
    sheet.show();
    Save(Shot(&sheet, sheet.rect()), "gauge_kinds");
  }
  return failures == 0 ? 0 : 1;
}
