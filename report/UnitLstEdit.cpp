#include "report/UnitLstEdit.h"

#include "report/UnitOrient.h"

TFormLstEdit::TFormLstEdit(TLstList&, const TAppSettings&, QWidget* parent) : QDialog(parent) {}
