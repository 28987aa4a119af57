#pragma once
// Pictures the Qt backend draws itself rather than ship as files: the warning sign of the
// operator prompt and the program's own icon.
#include <QIcon>
#include <QPixmap>

#include "framework/forms/controls.h"

// 32 x 32 yellow warning triangle with a black exclamation mark.
QPixmap WarningIcon32();

// The program's own icon (16, 32 and 48 pixels): a chip marked MV.
QIcon MoraventAppIcon();

// The application's icon, or the program's own one when none is set.
QIcon ApplicationIcon();

// A stock picture for an image control of the given size.
QPixmap StockIconPixmap(TStockIcon icon, int size);
