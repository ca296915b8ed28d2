#pragma once
// The port-selection window: created hidden at start-up and never shown;
// the port is chosen in the main window's list alone.
#include <QWidget>

class QListWidget;
class QPushButton;

class TForm2 : public QWidget {
public:
  explicit TForm2(QWidget* parent = nullptr);
  QListWidget* CheckListBox1 = nullptr;
  QPushButton* Button1 = nullptr;
};
