// Forms on Qt widgets: the main window on a plain top-level widget, dialogs on QDialog.
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QShowEvent>
#include <QVariant>
#include <vector>

#include "framework/exceptions.h"
#include "framework/forms/application.h"
#include "framework/forms/form.h"
#include "framework/forms/qt/controls_qt.h"
#include "framework/forms/qt/form_qt.h"
#include "framework/forms/qt/image_qt.h"
#include "framework/graphics.h"

namespace {

const char FormProperty[] = "moravent_form";

QString Q(const std::string& s)
{
    return QString::fromLatin1(s.data(), static_cast<int>(s.size()));
}

Qt::WindowFlags FlagsFor(const TFormDesc& desc)
{
    Qt::WindowFlags flags = (desc.MainWindow ? Qt::Window : Qt::Dialog) | Qt::CustomizeWindowHint |
        Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint;
    if (desc.CloseBox)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    return flags;
}

// What the window's events do, whichever widget class carries them.
class TQtForm;
struct TEvents {
    TQtForm* Form = nullptr;
};

void CloseEvent(TQtForm& form, QCloseEvent* event);
bool KeyPress(TQtForm& form, QKeyEvent* event);
void ShowEvent(TQtForm& form, QShowEvent* event);
void ContextMenu(TQtForm& form, QContextMenuEvent* event);
void Reject(TQtForm& form);

class TMainWidget : public QWidget {
public:
    TMainWidget(TQtForm& form, Qt::WindowFlags flags) : QWidget(nullptr, flags), FForm(form) { }

protected:
    void closeEvent(QCloseEvent* e) override { CloseEvent(FForm, e); }
    void keyPressEvent(QKeyEvent* e) override
    {
        if (!KeyPress(FForm, e))
            QWidget::keyPressEvent(e);
    }
    void showEvent(QShowEvent* e) override
    {
        ShowEvent(FForm, e);
        QWidget::showEvent(e);
    }
    void contextMenuEvent(QContextMenuEvent* e) override { ContextMenu(FForm, e); }

private:
    TQtForm& FForm;
};

class TDialogWidget : public QDialog {
public:
    TDialogWidget(TQtForm& form, QWidget* parent, Qt::WindowFlags flags) : QDialog(parent, flags), FForm(form) { }

protected:
    void closeEvent(QCloseEvent* e) override { CloseEvent(FForm, e); }
    void keyPressEvent(QKeyEvent* e) override
    {
        if (!KeyPress(FForm, e))
            QDialog::keyPressEvent(e);
    }
    void showEvent(QShowEvent* e) override
    {
        ShowEvent(FForm, e);
        QDialog::showEvent(e);
    }
    void contextMenuEvent(QContextMenuEvent* e) override { ContextMenu(FForm, e); }
    void reject() override { Reject(FForm); }

private:
    TQtForm& FForm;
};

struct TMenuItem {
    int Id;
    std::string Text, Shortcut;
};

class TQtForm : public TForm {
public:
    TQtForm(const TFormDesc& desc, TForm* owner) : TForm(desc), FDesc(desc)
    {
        QWidget* parent = owner ? QtWindowOf(*owner) : nullptr;
        if (desc.MainWindow)
            FWindow = new TMainWidget(*this, FlagsFor(desc));
        else
            FWindow = new TDialogWidget(*this, parent, FlagsFor(desc));
        FWindow->setProperty(FormProperty, QVariant::fromValue(static_cast<void*>(this)));
        FWindow->setObjectName(Q(desc.Name));
        FWindow->setFont(QtFont(desc.Font));
        FWindow->setWindowTitle(Q(desc.Caption));
        FWindow->setFixedSize(desc.ClientWidth, desc.ClientHeight);
        QWidget* previous = nullptr;
        for (const TControlDesc& c : desc.Controls) {
            QWidget* widget = QtWidgetOf(Add(c));
            if (widget->focusPolicy() != Qt::NoFocus) {
                if (previous)
                    QWidget::setTabOrder(previous, widget);
                previous = widget;
            }
        }
        if (desc.Position == TFormPosition::ScreenCenter)
            CenterOnScreen();
    }
    ~TQtForm() override { delete FWindow.data(); }

    QWidget* Window() const { return FWindow.data(); }
    const TFormDesc& Desc() const { return FDesc; }
    const std::vector<TMenuItem>& MenuItems() const { return FMenu; }

    TControl& Add(const TControlDesc& desc) override
    {
        QWidget* parent = desc.Parent.empty() ? FWindow.data() : QtWidgetOf(Control(desc.Parent));
        if (!parent)
            throw Exception("The window of form " + Name() + " has gone");
        std::unique_ptr<TControl> control = CreateQtControl(*this, desc, parent);
        TControl& added = *control;
        Register(std::move(control));
        if (FWindow && FWindow->isVisible())
            QtWidgetOf(added)->show();
        return added;
    }
    void Remove(const std::string& name) override { Unregister(name); }

    // A dialog's window goes with its owner's; the form outlives it quietly.
    std::string Caption() const override { return FWindow ? FWindow->windowTitle().toLatin1().toStdString() : ""; }
    void SetCaption(const std::string& text) override
    {
        if (FWindow)
            FWindow->setWindowTitle(Q(text));
    }
    void SetIcon(const TIcon& icon) override
    {
        QIcon qicon;
        for (const TRgbaImage& image : icon.Images())
            qicon.addPixmap(QPixmap::fromImage(ToQImage(image)));
        if (!qicon.isNull() && FWindow)
            FWindow->setWindowIcon(qicon);
    }
    void SetClientSize(int width, int height) override
    {
        if (FWindow)
            FWindow->setFixedSize(width, height);
    }
    int ClientWidth() const override { return FWindow ? FWindow->width() : 0; }
    int ClientHeight() const override { return FWindow ? FWindow->height() : 0; }

    void Show() override
    {
        if (!FWindow)
            return;
        FWindow->show();
        FWindow->raise();
        FWindow->activateWindow();
    }
    void Hide() override
    {
        if (FWindow)
            FWindow->hide();
    }
    bool Visible() const override { return FWindow && FWindow->isVisible(); }

    int ShowModal() override
    {
        auto* dialog = qobject_cast<QDialog*>(FWindow.data());
        if (!dialog)
            throw Exception("The main window cannot be shown modally");
        SetModalResult(mrNone);
        FModal = true;
        QApplication::setOverrideCursor(Qt::ArrowCursor);
        dialog->exec();
        QApplication::restoreOverrideCursor();
        FModal = false;
        return ModalResult() == mrNone ? mrCancel : ModalResult();
    }

    bool Close() override { return FWindow && FWindow->close(); }

    void AddSystemMenuItem(int id, const std::string& text, const std::string& shortcut) override
    {
        FMenu.push_back({id, text, shortcut});
    }

    void PressKey(TKey key) override
    {
        const int code = key == TKey::Enter ? Qt::Key_Return : key == TKey::Escape ? Qt::Key_Escape : Qt::Key_F1;
        if (!FWindow)
            return;
        QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier);
        QApplication::sendEvent(FWindow.data(), &press);
        QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier);
        QApplication::sendEvent(FWindow.data(), &release);
    }

    // The button a key presses: the default one for Enter, the cancel one for Esc.
    TControl* ButtonFor(bool cancel) const
    {
        for (const TControlDesc& c : FDesc.Controls)
            if (c.Kind == TControlKind::Button && (cancel ? c.Cancel : c.Default)) {
                TControl& button = Control(c.Name);
                return button.Enabled() && button.Visible() ? &button : nullptr;
            }
        return nullptr;
    }

    void CenterOnScreen()
    {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            FWindow->move(screen->availableGeometry().center() - FWindow->rect().center());
    }

    void CenterOnMainForm();

protected:
    void EndModal() override
    {
        if (auto* dialog = qobject_cast<QDialog*>(FWindow.data()))
            dialog->done(ModalResult());
    }

private:
    TFormDesc FDesc;
    QPointer<QWidget> FWindow;
    std::vector<TMenuItem> FMenu;
};

void TQtForm::CenterOnMainForm()
{
    TForm* main = MainForm();
    QWidget* over = main && main != this ? QtWindowOf(*main) : nullptr;
    if (!over && FWindow->parentWidget())
        over = FWindow->parentWidget()->window();
    QRect area;
    if (over && over->isVisible()) {
        area = over->frameGeometry();
    } else {
        QScreen* screen = FWindow->screen() ? FWindow->screen() : QGuiApplication::primaryScreen();
        if (!screen)
            return;
        area = screen->availableGeometry();
    }
    QSize frame = FWindow->frameGeometry().size();
    // Before the first showing the frame is not known yet: assume the decoration the
    // window it centres on has.
    if (frame == FWindow->size() && over && over->isVisible())
        frame = FWindow->size() + (over->frameGeometry().size() - over->size());
    FWindow->move(area.center().x() - frame.width() / 2, area.center().y() - frame.height() / 2);
}

void CloseEvent(TQtForm& form, QCloseEvent* event)
{
    bool close = true;
    GuardedCall([&] { close = !form.OnCloseQuery || form.OnCloseQuery(); });
    if (!close) {
        event->ignore();
        return;
    }
    if (form.Modal())
        form.SetModalResult(mrCancel);
    event->accept();
}

void Reject(TQtForm& form)
{
    // Esc, or the toolkit's own way out of a dialog: the cancel button's effect, or Cancel.
    if (TControl* cancel = form.ButtonFor(true))
        cancel->Click();
    else if (form.Modal())
        form.SetModalResult(mrCancel);
}

bool KeyPress(TQtForm& form, QKeyEvent* event)
{
    if (event->modifiers() != Qt::NoModifier && event->modifiers() != Qt::KeypadModifier)
        return false;
    switch (event->key()) {
    case Qt::Key_Escape:
        if (form.Desc().MainWindow)
            return false;
        Reject(form);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (TControl* button = form.ButtonFor(false)) {
            button->Click();
            return true;
        }
        return false;
    default: break;
    }
    const QString key = QKeySequence(event->key()).toString();
    for (const TMenuItem& item : form.MenuItems())
        if (!item.Shortcut.empty() && Q(item.Shortcut) == key) {
            GuardedCall([&] {
                if (form.OnSysCommand)
                    form.OnSysCommand(item.Id);
            });
            return true;
        }
    return false;
}

void ShowEvent(TQtForm& form, QShowEvent* event)
{
    if (event->spontaneous())
        return;
    GuardedCall([&] {
        if (form.OnShow)
            form.OnShow();
    });
    if (form.Desc().Position == TFormPosition::MainFormCenter)
        form.CenterOnMainForm();
    // The first control that takes the focus has it.
    for (const TControlDesc& c : form.Desc().Controls)
        if (QWidget* w = QtWidgetOf(form.Control(c.Name)); w && w->focusPolicy() != Qt::NoFocus && w->isEnabled()) {
            w->setFocus();
            break;
        }
}

void ContextMenu(TQtForm& form, QContextMenuEvent* event)
{
    // Linux window managers give no system menu to extend: the window's context menu
    // (right click) carries the standard Close and the form's own entries.
    if (form.MenuItems().empty())
        return;
    QMenu menu;
    menu.addAction(QStringLiteral("Close"), [&form] { form.Close(); });
    for (const TMenuItem& item : form.MenuItems()) {
        if (item.Text.empty()) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(Q(item.Text));
        if (!item.Shortcut.empty())
            action->setShortcut(QKeySequence(Q(item.Shortcut)));
        const int id = item.Id;
        QObject::connect(action, &QAction::triggered, [&form, id] {
            GuardedCall([&] {
                if (form.OnSysCommand)
                    form.OnSysCommand(id);
            });
        });
    }
    menu.exec(event->globalPos());
}

} // namespace

std::unique_ptr<TForm> TForm::Create(const TFormDesc& desc, TForm* owner)
{
    return std::make_unique<TQtForm>(desc, owner);
}

TForm* TForm::ActiveModal()
{
    QWidget* modal = QApplication::activeModalWidget();
    return modal ? static_cast<TForm*>(modal->property(FormProperty).value<void*>()) : nullptr;
}

QWidget* QtWindowOf(const TForm& form)
{
    const auto* qt = dynamic_cast<const TQtForm*>(&form);
    return qt ? qt->Window() : nullptr;
}
