#pragma once
// The Qt side of forms, for the code that must reach the widgets themselves (the screenshot
// renderer, tests that drive Qt's own machinery).
class QWidget;
class TForm;

// The window a form built by the Qt backend stands on.
QWidget* QtWindowOf(const TForm& form);
