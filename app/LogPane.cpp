#include "LogPane.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <limits>

#include "CharAdvance.h"

namespace {

// Space around the text, as an edit pane leaves it.
constexpr int kMargin = 4;

// Text whose characters' advances add up to the width a layout gives it
// (the pane's face has no kerning).
bool Measurable(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return AdvanceAddsUp(static_cast<unsigned char>(c)); });
}

}  // namespace

TLogPane::TLogPane(QWidget* parent) : QAbstractScrollArea(parent) {
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFocusPolicy(Qt::StrongFocus);
  setBackgroundRole(QPalette::Base);
  viewport()->setCursor(Qt::IBeamCursor);
  TakeFont();
}

TLogPane::~TLogPane() = default;

// ---- lines ----

void TLogPane::AppendLine(std::string line) {
  lines_.Append(std::move(line));
  ScheduleSync();
}

void TLogPane::Clear() {
  lines_.Clear();
  views_.clear();
  widest_ = 0;
  measured_ = 0;
  synced_ = 0;
  following_ = true;
  anchor_ = cursor_ = {};
  dragging_ = false;
  viewport()->update();
  ScheduleSync();
}

void TLogPane::ScheduleSync() {
  // Hidden, the pane waits for its show event; shown, one call at the end of
  // this turn of the event loop takes every line appended meanwhile.
  if (syncPosted_ || !isVisible()) return;
  syncPosted_ = true;
  QMetaObject::invokeMethod(
      this, [this] { Sync(); }, Qt::QueuedConnection);
}

void TLogPane::Sync() {
  syncPosted_ = false;
  if (!isVisible()) return;
  MeasureNewLines();
  UpdateScrollBars();
  const int count = lines_.Count();
  if (synced_ < count) viewport()->update(LineRect(synced_).united(LineRect(count - 1)) & viewport()->rect());
  synced_ = count;
}

void TLogPane::MeasureNewLines() {
  for (; measured_ < lines_.Count(); ++measured_) widest_ = std::max(widest_, LineWidth(lines_.Line(measured_)));
}

qreal TLogPane::LineWidth(const std::string& line) const {
  if (Measurable(line)) {
    qreal width = 0;
    for (char c : line) width += asciiAdvance_[static_cast<unsigned char>(c)];
    return width;
  }
  return QFontMetricsF(textFont_, viewport()).horizontalAdvance(QString::fromStdString(line));
}

int TLogPane::ContentWidth() const { return static_cast<int>(std::ceil(widest_)) + 2 * kMargin; }

int TLogPane::FullLinesInView() const { return std::max(1, (viewport()->height() - kMargin) / lineHeight_); }

void TLogPane::UpdateScrollBars() {
  const bool follow = following_;
  QScrollBar* vertical = verticalScrollBar();
  const int full = FullLinesInView();
  vertical->setRange(0, std::max(0, lines_.Count() - full));
  vertical->setPageStep(full);
  if (follow) vertical->setValue(vertical->maximum());
  following_ = vertical->value() == vertical->maximum();

  QScrollBar* horizontal = horizontalScrollBar();
  const int width = viewport()->width();
  horizontal->setRange(0, std::max(0, ContentWidth() - width));
  horizontal->setPageStep(width);
}

void TLogPane::TakeFont() {
  textFont_ = font();
  textFont_.setKerning(false);
  const QFontMetricsF metrics(textFont_, viewport());
  for (std::size_t c = 0; c < asciiAdvance_.size(); ++c)
    asciiAdvance_[c] = metrics.horizontalAdvance(QChar(static_cast<char16_t>(c)));
  lineHeight_ = std::max(1, static_cast<int>(std::ceil(metrics.height())));
  verticalScrollBar()->setSingleStep(1);
  horizontalScrollBar()->setSingleStep(std::max(1, static_cast<int>(metrics.averageCharWidth()) * 2));
  views_.clear();
  widest_ = 0;
  measured_ = 0;
  synced_ = 0;
  viewport()->update();
  ScheduleSync();
}

// ---- view ----

int TLogPane::FirstVisibleLine() const { return verticalScrollBar()->value(); }

QRect TLogPane::LineRect(int line) const {
  return QRect(0, kMargin + (line - FirstVisibleLine()) * lineHeight_, viewport()->width(), lineHeight_);
}

void TLogPane::ScrollToEnd() {
  Sync();
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

// The part of a line that is laid out: its characters [begin, end), the
// first standing at x from the line's start, covering the line up to `right`.
// A long line in a narrow view costs only the characters in sight.
struct TLogPane::TLineView {
  int begin = 0;
  int end = 0;
  qreal x = 0;
  qreal right = std::numeric_limits<qreal>::infinity();
  QTextLayout layout;
};

TLogPane::TLineView& TLogPane::ViewOf(int line) const {
  const qreal left = horizontalScrollBar()->value() - kMargin;  // in the line, at the viewport's left edge
  const qreal right = left + viewport()->width();
  std::unique_ptr<TLineView>& view = views_[line];
  if (view && view->x <= left && view->right >= right) return *view;
  view = std::make_unique<TLineView>();
  const std::string& text = lines_.Line(line);
  QString part;
  if (Measurable(text)) {
    // One character to spare on either side, for glyphs that reach beyond their advance.
    const int n = static_cast<int>(text.size());
    auto advance = [&](int i) { return asciiAdvance_[static_cast<unsigned char>(text[static_cast<std::size_t>(i)])]; };
    int i = 0;
    qreal x = 0;
    for (; i < n && x + advance(i) <= left; ++i) x += advance(i);
    if (i > 0) x -= advance(--i);
    view->begin = i;
    view->x = x;
    for (; i < n && x < right; ++i) x += advance(i);
    if (i < n) x += advance(i++);
    view->end = i;
    if (i < n) view->right = x;
    part = QString::fromLatin1(text.data() + view->begin, view->end - view->begin);
  } else {
    part = QString::fromStdString(text);
    view->end = static_cast<int>(part.size());
  }
  view->layout.setText(part);
  view->layout.setFont(textFont_);
  QTextOption option;
  option.setWrapMode(QTextOption::NoWrap);
  view->layout.setTextOption(option);
  view->layout.setCacheEnabled(true);
  view->layout.beginLayout();
  QTextLine laid = view->layout.createLine();
  if (laid.isValid()) laid.setPosition(QPointF(0, 0));
  view->layout.endLayout();
  return *view;
}

void TLogPane::DropViewsOutOfSight() const {
  const int first = FirstVisibleLine();
  const int last = first + FullLinesInView() + 1;
  std::erase_if(views_, [&](const auto& entry) { return entry.first < first || entry.first > last; });
}

void TLogPane::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  painter.setPen(palette().color(QPalette::Text));
  const QRect area = event->rect();
  const int first = FirstVisibleLine();
  const int from = std::max(first, first + (area.top() - kMargin) / lineHeight_);
  const int to = std::min(lines_.Count() - 1, first + (area.bottom() - kMargin) / lineHeight_);
  const qreal left = kMargin - horizontalScrollBar()->value();
  const auto [start, end] = OrderedSelection();
  QTextLayout::FormatRange selected;
  selected.format.setBackground(palette().brush(QPalette::Highlight));
  selected.format.setForeground(palette().brush(QPalette::HighlightedText));
  for (int line = from; line <= to; ++line) {
    const TLineView& view = ViewOf(line);
    QList<QTextLayout::FormatRange> selections;
    if (HasSelection() && line >= start.line && line <= end.line) {
      const int selectedFrom = std::max(line == start.line ? start.column : 0, view.begin);
      const int selectedTo = std::min(line == end.line ? end.column : view.end, view.end);
      selected.start = selectedFrom - view.begin;
      selected.length = selectedTo - selectedFrom;
      if (selected.length > 0) selections.append(selected);
    }
    view.layout.draw(&painter, QPointF(left + view.x, LineRect(line).top()), selections);
  }
  DropViewsOutOfSight();
}

void TLogPane::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void TLogPane::showEvent(QShowEvent* event) {
  QAbstractScrollArea::showEvent(event);
  Sync();
}

void TLogPane::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) TakeFont();
}

void TLogPane::scrollContentsBy(int dx, int dy) {
  following_ = verticalScrollBar()->value() == verticalScrollBar()->maximum();
  // The pixels still in view move; only what comes into view is drawn. The
  // top margin stays blank: lines move by whole lines below it.
  QRect moving = viewport()->rect();
  if (dy != 0) moving.setTop(kMargin);
  viewport()->scroll(dx, dy * lineHeight_, moving);
}

// ---- selection ----

int TLogPane::LineLength(int line) const { return static_cast<int>(lines_.LineText(line).size()); }

TLogPane::TTextPosition TLogPane::PositionAt(QPoint point) const {
  const int count = lines_.Count();
  if (count == 0) return {};
  const int line = FirstVisibleLine() + static_cast<int>(std::floor(double(point.y() - kMargin) / lineHeight_));
  if (line < 0) return {};
  if (line >= count) return {count - 1, LineLength(count - 1)};
  const qreal x = point.x() - kMargin + horizontalScrollBar()->value();
  const TLineView& view = ViewOf(line);
  return {line, view.begin + view.layout.lineAt(0).xToCursor(x - view.x)};
}

std::pair<TLogPane::TTextPosition, TLogPane::TTextPosition> TLogPane::OrderedSelection() const {
  return std::minmax(anchor_, cursor_);
}

QString TLogPane::SelectedText() const {
  if (!HasSelection()) return {};
  const auto [start, end] = OrderedSelection();
  QStringList parts;
  for (int line = start.line; line <= end.line; ++line) {
    const QString text = lines_.LineText(line);
    const int from = line == start.line ? start.column : 0;
    const int to = line == end.line ? end.column : static_cast<int>(text.size());
    parts.append(text.mid(from, to - from));
  }
  return parts.join(u'\n');
}

void TLogPane::Select(TTextPosition from, TTextPosition to) {
  anchor_ = from;
  cursor_ = to;
  SelectionChanged();
}

void TLogPane::SelectAll() {
  if (lines_.Count() == 0) return;
  Select({0, 0}, {lines_.Count() - 1, LineLength(lines_.Count() - 1)});
}

void TLogPane::CopySelection() const {
  if (HasSelection()) QGuiApplication::clipboard()->setText(SelectedText());
}

void TLogPane::SelectionChanged() {
  viewport()->update();
  // As X11 programs do: what is selected can be pasted with the middle button.
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!dragging_ && HasSelection() && clipboard->supportsSelection())
    clipboard->setText(SelectedText(), QClipboard::Selection);
}

void TLogPane::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  const TTextPosition at = PositionAt(event->position().toPoint());
  dragging_ = true;
  Select(event->modifiers() & Qt::ShiftModifier ? anchor_ : at, at);
}

void TLogPane::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return QAbstractScrollArea::mouseMoveEvent(event);
  const QPoint point = event->position().toPoint();
  // Dragging past an edge scrolls that way.
  if (point.y() < 0) verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  if (point.y() > viewport()->height()) verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  if (point.x() < 0) horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  if (point.x() > viewport()->width()) horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  Select(anchor_, PositionAt(point));
}

void TLogPane::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !dragging_) return QAbstractScrollArea::mouseReleaseEvent(event);
  dragging_ = false;
  Select(anchor_, PositionAt(event->position().toPoint()));
}

void TLogPane::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || lines_.Count() == 0)
    return QAbstractScrollArea::mouseDoubleClickEvent(event);
  // A word: the run of characters between spaces (a byte's two digits, "->").
  const TTextPosition at = PositionAt(event->position().toPoint());
  const QString text = lines_.LineText(at.line);
  int from = at.column, to = at.column;
  while (from > 0 && !text[from - 1].isSpace()) --from;
  while (to < text.size() && !text[to].isSpace()) ++to;
  dragging_ = false;
  Select({at.line, from}, {at.line, to});
}

// ---- keys and menu ----

void TLogPane::keyPressEvent(QKeyEvent* event) {
  QScrollBar* vertical = verticalScrollBar();
  QScrollBar* horizontal = horizontalScrollBar();
  if (event == QKeySequence::Copy)
    CopySelection();
  else if (event == QKeySequence::SelectAll)
    SelectAll();
  else if (event == QKeySequence::MoveToEndOfDocument)
    ScrollToEnd();
  else if (event == QKeySequence::MoveToStartOfDocument)
    vertical->setValue(0);
  else if (event == QKeySequence::MoveToStartOfLine)
    horizontal->setValue(0);
  else if (event == QKeySequence::MoveToEndOfLine)
    horizontal->setValue(horizontal->maximum());
  else
    return QAbstractScrollArea::keyPressEvent(event);
  event->accept();
}

void TLogPane::contextMenuEvent(QContextMenuEvent* event) {
  // Qt's own words for these, so that its translation gives them in Russian.
  QMenu menu(this);
  QAction* copy =
      menu.addAction(QCoreApplication::translate("QWidgetTextControl", "&Copy"), this, [this] { CopySelection(); });
  copy->setShortcut(QKeySequence::Copy);
  copy->setEnabled(HasSelection());
  menu.addSeparator();
  QAction* all =
      menu.addAction(QCoreApplication::translate("QWidgetTextControl", "Select All"), this, [this] { SelectAll(); });
  all->setShortcut(QKeySequence::SelectAll);
  all->setEnabled(lines_.Count() > 0);
  menu.exec(event->globalPos());
}
