#include "ui/about.h"

#include "ui/errordisplay.h"
#include "ui/formutil.h"
#include "ui/icons.h"
#include "ui/version.h"

#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

std::function<void(const QUrl&)> OpenUrlHook = [](const QUrl& url) { QDesktopServices::openUrl(url); };

namespace {
constexpr int FormWidth = 455;
constexpr int FormHeight = 199;

QLabel* MakeLabel(QWidget* parent, const char* name, int left, int top)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->move(left, top);
    return label;
}

// Labels keep their text on one line; one that would run past the window's right edge is
// narrowed to it, and its text elided, rather than cut off mid-letter.
void FitLabel(QLabel* label, const QString& text, int rightEdge)
{
    label->setText(text);
    label->adjustSize();
    int room = rightEdge - label->x();
    if (label->width() > room) {
        label->setText(label->fontMetrics().elidedText(text, Qt::ElideRight, room));
        label->setToolTip(text);
        label->resize(room, label->height());
    } else {
        label->setToolTip(QString());
    }
}
} // namespace

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent, FixedDialogFlags(false))
{
    setObjectName(QStringLiteral("frmAbout"));
    setFont(FormFont());
    setFixedSize(FormWidth, FormHeight);

    btnOk = new QPushButton(QStringLiteral("Ok"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setGeometry(376, 168, 70, 25);
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, [this] { GuardedCall([this] { btnOkClick(); }); });

    ImageMV = MakeLabel(this, "ImageMV", 8, 8);
    ImageMV->resize(32, 32);

    lblBriskoWeb = MakeLabel(this, "lblBriskoWeb", 62, 104);
    lblBriskoWeb->setCursor(Qt::PointingHandCursor);
    QPalette web = lblBriskoWeb->palette();
    web.setColor(QPalette::WindowText, Qt::blue);
    lblBriskoWeb->setPalette(web);
    lblBriskoWeb->setText(QString::fromLatin1(MakerWebAddress));
    lblBriskoWeb->adjustSize();
    lblBriskoWeb->installEventFilter(this);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    // A line along the bottom of the 439 x 17 box at (8, 112).
    Bevel1->setGeometry(8, 112 + 17 - 2, 439, 2);

    lblVersion = MakeLabel(this, "lblVersion", 64, 56);
    lblProgram = MakeLabel(this, "lblProgram", 64, 16);
    lblProgram->setFont(FormFont(21, true));
    lblBinaryImage = MakeLabel(this, "lblBinaryImage", 8, 136);
    lblCopyright = MakeLabel(this, "lblCopyright", 64, 80);

    FormCreate();
}

void TfrmAbout::FormCreate()
{
    std::string description, versionLine, notice;
    GetVersionStrings(description, versionLine, notice);
    setWindowTitle(ToQString("About " + description));
    ImageMV->setPixmap(ApplicationIcon().pixmap(32, 32));
    // The version line ends in a carriage return, which a label would draw as a box.
    QString version = ToQString(versionLine);
    while (version.endsWith(QLatin1Char('\r')))
        version.chop(1);
    const int right = FormWidth - 8;
    FitLabel(lblVersion, version, right);
    FitLabel(lblCopyright, ToQString(notice), right);
    FitLabel(lblProgram, ToQString(description), right);
    SetImageText("No Flash Image Available");
}

void TfrmAbout::SetImageText(const std::string& text)
{
    FitLabel(lblBinaryImage, ToQString(text), FormWidth - 8);
}

void TfrmAbout::btnOkClick()
{
    reject();
}

void TfrmAbout::lblBriskoWebClick()
{
    if (OpenUrlHook)
        OpenUrlHook(QUrl(QStringLiteral("http://") + QString::fromLatin1(MakerWebAddress)));
}

bool TfrmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lblBriskoWeb && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        GuardedCall([this] { lblBriskoWebClick(); });
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmAbout::showEvent(QShowEvent* event)
{
    if (!event->spontaneous())
        CenterOnMainForm(this);
    QDialog::showEvent(event);
}
