#pragma once
// What a toolkit's backend implements besides TForm::Create, TForm::ActiveModal and its
// controls: the drawing side of application.h.
#include <string>

enum class TBoxIcon { None, Information, Question, Stop };

// A modal box with one OK button over the main form, with the normal cursor.
void BackendMessageBox(TBoxIcon icon, const std::string& caption, const std::string& text);
void BackendSetBusyCursor(bool busy);
void BackendOpenUrl(const std::string& address);
