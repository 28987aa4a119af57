#pragma once
// Pictures the windows draw themselves rather than ship as files.
#include <QIcon>
#include <QPixmap>

// 32 x 32 yellow warning triangle with a black exclamation mark.
QPixmap WarningIcon32();

// The program's own icon: used when the application has none set.
QIcon MoraventAppIcon();

// The application's icon, or the program's own one when none is set.
QIcon ApplicationIcon();
