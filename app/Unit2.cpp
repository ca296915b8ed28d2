#include "Unit2.h"

#include <QListWidget>
#include <QPushButton>

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Выбор COM-порта"));
  setGeometry(287, 201, 331, 273);
  CheckListBox1 = new QListWidget(this);
  CheckListBox1->setGeometry(0, 0, 321, 193);
  for (const char* name : {"COM1", "COM2"}) {
    auto* item = new QListWidgetItem(QString::fromLatin1(name), CheckListBox1);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
  }
  Button1 = new QPushButton(QStringLiteral("Ok"), this);
  Button1->setGeometry(224, 208, 89, 25);
}
