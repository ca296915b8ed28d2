#pragma once
// A last-line field: a label whose long one-line text is mostly beyond its
// right edge. It draws the label's way but lays out only the characters
// that can show, so a 400-character response costs what its visible part
// does each time it changes.
#include <QLabel>

class TStaticText : public QLabel {
public:
  using QLabel::QLabel;

protected:
  void paintEvent(QPaintEvent* event) override;
};
