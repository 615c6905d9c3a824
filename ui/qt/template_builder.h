// Builds a dialog's controls from its template, laid out in dialog units.
#pragma once

#include <QDialog>
#include <QList>

#include "dialog_templates.h"
#include "dialog_units.h"

// Creates the template's controls as children of dialog, in tab order, each named by its id
// ("1002"; unaddressed controls stay unnamed), and fixes the dialog's client size. Returns the
// controls in template order.
QList<QWidget*> BuildFromTemplate(QDialog& dialog, const dialog_template::DialogTemplate& dlg);

// The control with the given id, or null.
QWidget* FindControl(const QWidget& dialog, int id);
