#pragma once
// A read-only log pane: lines that never wrap, both scroll bars, text that
// can be selected and copied. The lines live in a plain container; only the
// lines in view are laid out, and all the lines appended during one turn of
// the event loop cost one update at its end. A pane that is not shown only
// keeps its lines.
//
// While the view stands at the last line it follows the lines as they come;
// scrolled up, it stays where the user put it. The horizontal position is
// the user's alone.
#include <QAbstractScrollArea>
#include <array>
#include <compare>
#include <map>
#include <memory>
#include <string>

#include "LogLines.h"

class QTextLayout;

class TLogPane : public QAbstractScrollArea {
public:
  // A place in the text: a line, and a character position (UTF-16) in it.
  struct TTextPosition {
    int line = 0;
    int column = 0;
    auto operator<=>(const TTextPosition&) const = default;
  };

  explicit TLogPane(QWidget* parent = nullptr);
  ~TLogPane() override;

  void AppendLine(std::string line);
  void Clear();

  const TLogLines& Lines() const { return lines_; }
  int LineCount() const { return lines_.Count(); }
  QString Text() const { return lines_.Text(); }

  bool HasSelection() const { return anchor_ != cursor_; }
  QString SelectedText() const;
  void Select(TTextPosition from, TTextPosition to);
  void SelectAll();
  void CopySelection() const;

  // The last line into view (the horizontal position stays).
  void ScrollToEnd();
  int FirstVisibleLine() const;
  // A line's band in the viewport's coordinates, and where a viewport point falls in the text.
  QRect LineRect(int line) const;
  TTextPosition PositionAt(QPoint point) const;
  // The width the horizontal scroll bar lets the user reach (margins included).
  int ContentWidth() const;

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

private:
  void ScheduleSync();
  void Sync();
  void MeasureNewLines();
  void UpdateScrollBars();
  void TakeFont();
  qreal LineWidth(const std::string& line) const;
  struct TLineView;
  TLineView& ViewOf(int line) const;
  void DropViewsOutOfSight() const;
  int FullLinesInView() const;
  int LineLength(int line) const;
  std::pair<TTextPosition, TTextPosition> OrderedSelection() const;
  void SelectionChanged();

  TLogLines lines_;
  QFont textFont_;
  int lineHeight_ = 1;
  std::array<qreal, 128> asciiAdvance_{};  // in textFont_, which has no kerning
  qreal widest_ = 0;
  int measured_ = 0;  // lines whose width widest_ covers
  int synced_ = 0;    // lines the view has been brought up to date with
  bool syncPosted_ = false;
  bool following_ = true;
  bool dragging_ = false;
  TTextPosition anchor_, cursor_;
  mutable std::map<int, std::unique_ptr<TLineView>> views_;  // the lines in view
};
