#pragma once

#include <QDialog>

class TLstList;
struct TAppSettings;

// The remembered orientations of report titles, one row per title, where the user changes an
// orientation or forgets a title. Changes reach the in-memory list at once.
class TFormLstEdit : public QDialog
{
    Q_OBJECT
public:
    TFormLstEdit(TLstList& list, const TAppSettings& settings, QWidget* parent = nullptr);
};
