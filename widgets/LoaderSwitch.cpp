#include "LoaderSwitch.h"

#include "ColorButton.h"
#include "Colors.h"
#include "Fonts.h"

void ConfigureLoaderSwitch(TColorButton* button) {
  button->setGeometry(360, 72, 433, 33);
  button->setFont(MakeFont("MS Sans Serif", -11, true));
  button->SetTextOff(QStringLiteral("Старт BootLoader"));
  button->SetTextOn(QStringLiteral("BootLoader запущен"));
  button->SetTextColOff(clBlack);
  button->SetTextColOn(clLime);
  button->SetTextColDisabled(clBtnShadow);
  button->SetText3D(true);
  button->SetColorOff(clBtnFace);
  button->SetColorOn(clBtnFace);
  button->SetColorDisabled(10526880);
  button->GradBtnFace()->SetColorFrom(15790320);
  button->GradBtnFace()->SetColorTo(6908265);
  button->GradBtnFace()->SetVisible(true);
  button->GradBtnFace()->SetStyle(gsHorizontal1);
  button->ButtonBevel()->SetWidth(4);
  button->SetBeveled(true);
  button->SetFlat(false);
  button->SetTransparent(false);
  button->SetFlashOptions(TFlashOptions{foGlyph, foText, foBtnCol, foTextCol});
  button->SetCheckedOptions(TCheckedOptions{coBevel, coBtnCol, coText, coTextCol, coGlyph});
  button->SetFlashing(false);
  button->SetFrequency(ff1Hz);
  button->SetPosHorizontal(phCenter);
  button->SetPosVertical(pvCenter);
  button->SetPosGlyph(pLeft);
  button->SetNumGlyph(1);
  button->SetSpacing(4);
  button->SetOffsetX(0);
  button->SetOffsetY(0);
  button->SetOffsetDown(1);
  button->SetChecked(false);
  button->SetGroupIndex(0);
  button->SetStatusBit(0);
  button->SetStatusInt(0);
  button->SetMode(mSwitch);
}
