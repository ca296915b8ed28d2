#pragma once
// The port list: items of fixed height 16 drawn as plain text, read afresh
// each time the user opens it so that an adapter plugged in meanwhile shows.
#include <QComboBox>
#include <functional>

class TPortComboBox : public QComboBox {
public:
  static constexpr int ItemHeight = 16;

  explicit TPortComboBox(QWidget* parent = nullptr);
  // Called before the list opens.
  std::function<void()> BeforePopup;

  void showPopup() override;
};
