#include "framework/forms/qt/controls_qt.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <algorithm>

#include "framework/forms/application.h"
#include "framework/forms/form.h"
#include "framework/forms/qt/icons_qt.h"
#include "framework/forms/qt/image_qt.h"
#include "framework/graphics.h"

namespace {

QString Q(const std::string& s)
{
    return QString::fromLatin1(s.data(), static_cast<int>(s.size()));
}

std::string S(const QString& s)
{
    return s.toLatin1().toStdString();
}

// The item data role holding an entry's description; the entry's text stays its bare text.
constexpr int DescriptionRole = Qt::UserRole + 1;

// The open list's entries read "text   description"; the closed box shows the text alone.
class DescribedItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString description = index.data(DescriptionRole).toString();
        if (!description.isEmpty())
            option->text += QStringLiteral("   ") + description;
    }
};

// A label that is a link: a release of the left button on it is its click.
class ClickFilter : public QObject {
public:
    ClickFilter(QObject* parent, std::function<void()> click) : QObject(parent), FClick(std::move(click)) { }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            FClick();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> FClick;
};

template <class Base> void RunClick(Base& control)
{
    GuardedCall([&control] {
        if (control.OnClick)
            control.OnClick();
    });
}

class TQtButton : public TQtControl<TButton> {
public:
    TQtButton(TForm& form, const TControlDesc& desc, QPushButton* button)
        : TQtControl(form, desc, button), FModalResult(desc.ModalResult)
    {
        QObject::connect(button, &QPushButton::clicked, button, [this] { Pressed(); });
    }
    void Click() override
    {
        if (auto* button = As<QPushButton>())
            button->click();
    }

private:
    // As a button does: its modal result goes to the form first, then its own handler runs.
    void Pressed()
    {
        if (FModalResult != mrNone)
            Form().SetModalResult(FModalResult);
        RunClick(*this);
    }
    int FModalResult;
};

class TQtLabel : public TQtControl<TLabel> {
public:
    TQtLabel(TForm& form, const TControlDesc& desc, QLabel* label) : TQtControl(form, desc, label)
    {
        if (desc.Link)
            label->installEventFilter(new ClickFilter(label, [this] { RunClick(*this); }));
    }
};

class TQtProgressBar : public TQtControl<TProgressBar> {
public:
    TQtProgressBar(TForm& form, const TControlDesc& desc, QProgressBar* bar) : TQtControl(form, desc, bar) { }
    void SetRange(int min, int max) override
    {
        FMin = min;
        FMax = std::max(max, min);
        if (auto* bar = As<QProgressBar>())
            bar->setRange(min, std::max(max, min + 1));
    }
    int Min() const override { return FMin; }
    int Max() const override { return FMax; }
    void SetPosition(int position) override
    {
        FPosition = std::clamp(position, FMin, FMax);
        if (auto* bar = As<QProgressBar>())
            bar->setValue(FPosition);
    }
    int Position() const override { return FPosition; }

private:
    int FMin = 0, FMax = 100, FPosition = 0;
};

class TQtImage : public TQtControl<TImage> {
public:
    TQtImage(TForm& form, const TControlDesc& desc, QLabel* label)
        : TQtControl(form, desc, label), FStretch(desc.Stretch)
    {
        label->setScaledContents(desc.Stretch);
    }
    void SetGraphic(const TGraphic& graphic) override { Show(QPixmap::fromImage(ToQImage(graphic.Image()))); }
    void SetStockIcon(TStockIcon icon) override { Show(StockIconPixmap(icon, Bounds().Width)); }
    void Clear() override
    {
        if (auto* label = As<QLabel>())
            label->clear();
    }
    bool HasPicture() const override
    {
        auto* label = As<QLabel>();
        return label && !label->pixmap().isNull();
    }

private:
    // An unstretched image shows the picture fitted to its size, its proportions kept.
    void Show(const QPixmap& pixmap)
    {
        auto* label = As<QLabel>();
        if (!label)
            return;
        const QSize room = label->size();
        label->setPixmap(FStretch || pixmap.isNull() || pixmap.size() == room
                             ? pixmap
                             : pixmap.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
    bool FStretch;
};

class TQtComboBox : public TQtControl<TComboBox> {
public:
    TQtComboBox(TForm& form, const TControlDesc& desc, QComboBox* box) : TQtControl(form, desc, box)
    {
        box->setEditable(false);
        box->setItemDelegate(new DescribedItemDelegate(box));
        QObject::connect(box, qOverload<int>(&QComboBox::activated), box, [this](int) { Picked(); });
    }
    void Clear() override
    {
        if (auto* box = As<QComboBox>())
            box->clear();
    }
    void AddItem(const std::string& text, const std::string& description) override
    {
        auto* box = As<QComboBox>();
        if (!box)
            return;
        box->addItem(Q(text));
        if (!description.empty())
            box->setItemData(box->count() - 1, Q(description), DescriptionRole);
        // The list opens as wide as its longest entry with its description, not just the box.
        if (QAbstractItemView* view = box->view())
            view->setMinimumWidth(view->sizeHintForColumn(0) + 2 * view->frameWidth());
    }
    int Count() const override
    {
        auto* box = As<QComboBox>();
        return box ? box->count() : 0;
    }
    std::string ItemText(int index) const override
    {
        auto* box = As<QComboBox>();
        return box ? S(box->itemText(index)) : std::string();
    }
    std::string ItemDescription(int index) const override
    {
        auto* box = As<QComboBox>();
        return box ? S(box->itemData(index, DescriptionRole).toString()) : std::string();
    }
    int ItemIndex() const override
    {
        auto* box = As<QComboBox>();
        return box ? box->currentIndex() : -1;
    }
    void SetItemIndex(int index) override
    {
        if (auto* box = As<QComboBox>())
            box->setCurrentIndex(index < box->count() ? index : -1);
    }
    void Pick(int index) override
    {
        if (auto* box = As<QComboBox>()) {
            box->setCurrentIndex(index);
            emit box->activated(index);
        }
    }
    void Click() override
    {
        if (auto* box = As<QComboBox>())
            box->showPopup();
    }

private:
    void Picked()
    {
        GuardedCall([this] {
            if (OnPick)
                OnPick();
        });
    }
};

template <class Base> class TQtPlain : public TQtControl<Base> {
public:
    using TQtControl<Base>::TQtControl;
};

QLabel* NewLabel(const TControlDesc& desc, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(false);
    if (desc.Link) {
        label->setCursor(Qt::PointingHandCursor);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, Qt::blue);
        label->setPalette(palette);
    }
    return label;
}

} // namespace

QFont QtFont(const TFontDesc& desc)
{
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(desc.Height);
    font.setBold(desc.Bold);
    return font;
}

template <class Base> std::string TQtControl<Base>::Caption() const
{
    if (auto* button = qobject_cast<QPushButton*>(FWidget.data()))
        return S(button->text());
    if (auto* label = qobject_cast<QLabel*>(FWidget.data()))
        return S(label->text());
    if (auto* group = qobject_cast<QGroupBox*>(FWidget.data()))
        return S(group->title());
    return {};
}

template <class Base> void TQtControl<Base>::SetCaption(const std::string& text)
{
    if (auto* button = qobject_cast<QPushButton*>(FWidget.data()))
        button->setText(Q(text));
    else if (auto* label = qobject_cast<QLabel*>(FWidget.data()))
        label->setText(Q(text));
    else if (auto* group = qobject_cast<QGroupBox*>(FWidget.data()))
        group->setTitle(Q(text));
    if (FAutoSize && FWidget)
        FWidget->adjustSize();
}

template <class Base> TRect TQtControl<Base>::Bounds() const
{
    if (!FWidget)
        return {};
    const QRect r = FWidget->geometry();
    return {r.x(), r.y(), r.width(), r.height()};
}

template <class Base> void TQtControl<Base>::SetBounds(const TRect& b)
{
    if (FWidget)
        FWidget->setGeometry(b.Left, b.Top, b.Width, b.Height);
}

template <class Base> void TQtControl<Base>::SetHint(const std::string& text)
{
    if (FWidget)
        FWidget->setToolTip(Q(text));
}

template <class Base> int TQtControl<Base>::TextWidth(const std::string& text) const
{
    return FWidget ? FWidget->fontMetrics().horizontalAdvance(Q(text)) : 0;
}

template <class Base> void TQtControl<Base>::Click()
{
    RunClick(*this);
}

std::unique_ptr<TControl> CreateQtControl(TForm& form, const TControlDesc& desc, QWidget* parent)
{
    std::unique_ptr<TControl> control;
    QWidget* widget = nullptr;
    switch (desc.Kind) {
    case TControlKind::Button: {
        auto* button = new QPushButton(Q(desc.Caption), parent);
        button->setDefault(desc.Default);
        control = std::make_unique<TQtButton>(form, desc, button);
        widget = button;
        break;
    }
    case TControlKind::Label: {
        QLabel* label = NewLabel(desc, parent);
        label->setText(Q(desc.Caption));
        control = std::make_unique<TQtLabel>(form, desc, label);
        widget = label;
        break;
    }
    case TControlKind::ProgressBar: {
        auto* bar = new QProgressBar(parent);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        control = std::make_unique<TQtProgressBar>(form, desc, bar);
        widget = bar;
        break;
    }
    case TControlKind::Image: {
        auto* label = new QLabel(parent);
        control = std::make_unique<TQtImage>(form, desc, label);
        widget = label;
        break;
    }
    case TControlKind::ComboBox: {
        auto* box = new QComboBox(parent);
        control = std::make_unique<TQtComboBox>(form, desc, box);
        widget = box;
        break;
    }
    case TControlKind::GroupBox: {
        auto* group = new QGroupBox(Q(desc.Caption), parent);
        control = std::make_unique<TQtPlain<TGroupBox>>(form, desc, group);
        widget = group;
        break;
    }
    case TControlKind::Panel: {
        auto* panel = new QWidget(parent);
        control = std::make_unique<TQtPlain<TPanel>>(form, desc, panel);
        widget = panel;
        break;
    }
    case TControlKind::Bevel: {
        auto* line = new QFrame(parent);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        control = std::make_unique<TQtPlain<TBevel>>(form, desc, line);
        widget = line;
        break;
    }
    }
    widget->setObjectName(Q(desc.Name));
    if (desc.Font.Height != 11 || desc.Font.Bold)
        widget->setFont(QtFont(desc.Font));
    if (desc.Kind == TControlKind::Bevel) // a line along the bottom of its box
        widget->setGeometry(desc.Bounds.Left, desc.Bounds.Bottom() - 2, desc.Bounds.Width, 2);
    else
        widget->setGeometry(desc.Bounds.Left, desc.Bounds.Top, desc.Bounds.Width, desc.Bounds.Height);
    if (desc.AutoSize)
        widget->adjustSize();
    return control;
}

QWidget* QtWidgetOf(const TControl& control)
{
    if (auto* c = dynamic_cast<const TQtControl<TButton>*>(&control))
        return c->Widget();
    if (auto* c = dynamic_cast<const TQtControl<TLabel>*>(&control))
        return c->Widget();
    if (auto* c = dynamic_cast<const TQtControl<TProgressBar>*>(&control))
        return c->Widget();
    if (auto* c = dynamic_cast<const TQtControl<TImage>*>(&control))
        return c->Widget();
    if (auto* c = dynamic_cast<const TQtControl<TComboBox>*>(&control))
        return c->Widget();
    if (auto* c = dynamic_cast<const TQtControl<TGroupBox>*>(&control))
        return c->Widget();
    if (auto* c = dynamic_cast<const TQtControl<TPanel>*>(&control))
        return c->Widget();
    if (auto* c = dynamic_cast<const TQtControl<TBevel>*>(&control))
        return c->Widget();
    return nullptr;
}
