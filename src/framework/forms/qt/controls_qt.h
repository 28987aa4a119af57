#pragma once
// The controls on Qt widgets. Each holds its widget, which its form's widget owns.
#include <QPointer>
#include <QWidget>
#include <memory>

#include "framework/forms/controls.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

// The font of a description: the platform's sans-serif at its pixel height.
QFont QtFont(const TFontDesc& font);

// Builds the control of desc on parent (a widget of form).
std::unique_ptr<TControl> CreateQtControl(TForm& form, const TControlDesc& desc, QWidget* parent);

// The widget behind a control built by CreateQtControl.
QWidget* QtWidgetOf(const TControl& control);

// The part every kind shares: the widget and what any control does with it.
template <class Base> class TQtControl : public Base {
public:
    TQtControl(TForm& form, const TControlDesc& desc, QWidget* widget)
        : Base(form, desc), FWidget(widget), FAutoSize(desc.AutoSize)
    {
    }
    ~TQtControl() override { delete FWidget.data(); }

    // A control whose window has gone with its owner's reads empty and ignores changes.
    std::string Caption() const override;
    void SetCaption(const std::string& text) override;
    bool Enabled() const override { return FWidget && FWidget->isEnabled(); }
    void SetEnabled(bool enabled) override
    {
        if (FWidget)
            FWidget->setEnabled(enabled);
    }
    bool Visible() const override { return FWidget && FWidget->isVisible(); }
    void SetVisible(bool visible) override
    {
        if (FWidget)
            FWidget->setVisible(visible);
    }
    TRect Bounds() const override;
    void SetBounds(const TRect& bounds) override;
    void SetHint(const std::string& text) override;
    int TextWidth(const std::string& text) const override;
    void Click() override;

    QWidget* Widget() const { return FWidget.data(); }

protected:
    // The widget as its class, or null once it has gone.
    template <class W> W* As() const { return qobject_cast<W*>(FWidget.data()); }
    QPointer<QWidget> FWidget;
    bool FAutoSize;
};
