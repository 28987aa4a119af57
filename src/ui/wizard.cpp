#include "ui/wizard.h"

#include "framework/exceptions.h"
#include "ui/formutil.h"

#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QShowEvent>

namespace {
// The height a new label has before it gets any text; the line pitch derives from it.
constexpr int NewLabelHeight = 17;
} // namespace

TfrmConnectWiz::TfrmConnectWiz(QWidget* parent) : QDialog(parent, FixedDialogFlags(true))
{
    setObjectName(QStringLiteral("frmConnectWiz"));
    setFont(FormFont());
    setFixedSize(484, 272);

    btnNext = new QPushButton(QStringLiteral("Next >>>"), this);
    btnNext->setObjectName(QStringLiteral("btnNext"));
    btnNext->setGeometry(404, 242, 75, 25);
    btnNext->setDefault(true);
    connect(btnNext, &QPushButton::clicked, this, &QDialog::accept);

    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(324, 242, 75, 25);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    GroupBox = new QGroupBox(this);
    GroupBox->setObjectName(QStringLiteral("GroupBox"));
    GroupBox->setGeometry(8, 8, 473, 223);

    PanelText = new QWidget(GroupBox);
    PanelText->setObjectName(QStringLiteral("PanelText"));
    PanelText->setGeometry(8, 16, 225, 195);

    PanelImage = new QWidget(GroupBox);
    PanelImage->setObjectName(QStringLiteral("PanelImage"));
    PanelImage->setGeometry(243, 16, 222, 197);

    Image = new QLabel(PanelImage);
    Image->setObjectName(QStringLiteral("Image"));
    Image->setGeometry(0, 0, 222, 197);
    Image->setScaledContents(true);

    setTabOrder(btnNext, btnCancel);
    FormCreate();
}

TfrmConnectWiz::~TfrmConnectWiz()
{
    FormDestroy();
}

void TfrmConnectWiz::FormCreate()
{
    Labels.fill(nullptr);
    setWindowTitle(QStringLiteral("Connecting the Unit to the PC"));
    // JPEG pictures arrive as TJPEGImage graphics already decoded; nothing to register.
}

void TfrmConnectWiz::FormDestroy()
{
    ClearInstructions();
}

int TfrmConnectWiz::LabelTop(int index)
{
    return 5 + RoundHalfEven(NewLabelHeight * 0.75 * index);
}

void TfrmConnectWiz::ClearInstructions()
{
    for (QLabel*& label : Labels) {
        delete label;
        label = nullptr;
    }
}

void TfrmConnectWiz::SetInstructions(const std::vector<std::string>& lines)
{
    if (lines.size() > MaxLines)
        throw Exception("Too Many Strings");
    ClearInstructions();
    for (size_t i = 0; i < lines.size(); ++i) {
        auto* label = new QLabel(PanelText);
        label->setObjectName(QStringLiteral("Label%1").arg(i));
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(false);
        Labels[i] = label;
        label->move(5, LabelTop(static_cast<int>(i)));
        label->setText(ToQString(lines[i]));
        label->adjustSize();
        label->show();
    }
}

void TfrmConnectWiz::SetPicture(const TGraphic& graphic)
{
    const int h = graphic.Height();
    const int w = graphic.Width();
    if (w <= 0 || h <= 0 || graphic.Empty())
        throw EInvalidGraphic("Picture has no size");
    FPicture.Assign(graphic);
    int width, height;
    if (h < w) {
        width = 200;
        height = RoundHalfEven(h * (200.0 / w));
    } else {
        height = 200;
        width = RoundHalfEven(w * (200.0 / h));
    }
    Image->setPixmap(QPixmap::fromImage(FPicture.ToImage()));
    Image->setScaledContents(true);
    Image->setGeometry(0, 0, width, height);
}

void TfrmConnectWiz::showEvent(QShowEvent* event)
{
    if (!event->spontaneous())
        CenterOnMainForm(this);
    QDialog::showEvent(event);
}
