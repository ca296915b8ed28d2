// Compares ways of showing the debug log: the window's pane (TLogPane), a
// list view over a string-list model with uniform item sizes, and the plain
// text edit the window used before. Each gets the lines of a whole load (a
// response of 132 bytes as hex text each), one line per turn of the event
// loop as a load delivers them, shown (the debug page in front: every turn
// paints) and hidden; prints the median and 99th percentile time per turn.
// Offscreen unless a display is set.
//
//   pane_choice [LINES]
#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStringListModel>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Fonts.h"
#include "LogPane.h"

namespace {

struct TCandidate {
  const char* name;
  std::function<QWidget*()> make;
  std::function<void(QWidget*, const std::string&)> append;
};

std::vector<std::string> ResponseLines(int count) {
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) {
    std::string line = " - > ";
    for (int b = 0; b < 132; ++b) {
      const unsigned v = static_cast<unsigned>((i * 131 + b * 7) & 0xFF);
      line += ' ';
      line += "0123456789ABCDEF"[v >> 4];
      line += "0123456789ABCDEF"[v & 15];
    }
    lines.push_back(line);
  }
  return lines;
}

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setFont(MakeFont("MS Sans Serif", -11));
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1114;
  const std::vector<std::string> lines = ResponseLines(count);

  const std::vector<TCandidate> candidates = {
      {"TLogPane (scroll area, lines in view)", [] { return new TLogPane; },
       [](QWidget* w, const std::string& line) { static_cast<TLogPane*>(w)->AppendLine(line); }},
      {"QListView + QStringListModel, uniform sizes",
       [] {
         auto* view = new QListView;
         view->setModel(new QStringListModel(view));
         view->setUniformItemSizes(true);
         view->setWordWrap(false);
         view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
         view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
         return view;
       },
       [](QWidget* w, const std::string& line) {
         auto* view = static_cast<QListView*>(w);
         auto* model = static_cast<QStringListModel*>(view->model());
         const int row = model->rowCount();
         const bool atEnd = view->verticalScrollBar()->value() == view->verticalScrollBar()->maximum();
         model->insertRows(row, 1);
         model->setData(model->index(row), QString::fromStdString(line));
         if (atEnd) view->scrollToBottom();
       }},
      {"QPlainTextEdit (before)",
       [] {
         auto* edit = new QPlainTextEdit;
         edit->setLineWrapMode(QPlainTextEdit::NoWrap);
         edit->setUndoRedoEnabled(false);
         return edit;
       },
       [](QWidget* w, const std::string& line) {
         static_cast<QPlainTextEdit*>(w)->appendPlainText(QString::fromStdString(line));
       }},
  };

  std::printf("%d lines of %zu characters, one per turn of the event loop; time per turn:\n", count, lines[0].size());
  for (const bool shown : {true, false}) {
    for (const TCandidate& candidate : candidates) {
      std::unique_ptr<QWidget> widget(candidate.make());
      widget->resize(785, 329);
      if (shown) widget->show();
      QApplication::processEvents();
      std::vector<double> us;
      QElapsedTimer timer;
      for (const std::string& line : lines) {
        timer.start();
        candidate.append(widget.get(), line);
        QApplication::processEvents();
        us.push_back(static_cast<double>(timer.nsecsElapsed()) / 1000.0);
      }
      std::printf("  %-7s %-46s median %7.1f us, 99th %7.1f us\n", shown ? "shown" : "hidden", candidate.name,
                  Percentile(us, 0.5), Percentile(us, 0.99));
    }
  }
  return 0;
}
