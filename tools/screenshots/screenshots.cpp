// Renders one of the tool's windows with sample contents to a PNG, for looking at the
// layout on a real X server (scripts/screenshots).
// Usage: moravent-screenshots about|usrserial|usrserial-list|wizard|prompt OUT.png
#include "framework/forms/qt/controls_qt.h"
#include "framework/forms/qt/form_qt.h"
#include "framework/forms/qt/icons_qt.h"
#include "framework/streams.h"
#include "ui/about.h"
#include "ui/CPortCtl.h"
#include "ui/userprompt_dialog.h"
#include "ui/usrserial.h"
#include "ui/wizard.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QScreen>
#include <QBuffer>
#include <QPainter>
#include <QPixmap>
#include <QTest>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// A drawing of a weighing instrument with its serial socket, as a stored bitmap would be.
std::unique_ptr<TGraphic> SamplePicture()
{
    QImage image(640, 480, QImage::Format_RGB32);
    image.fill(QColor(236, 240, 244));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 6));
    p.setBrush(QColor(190, 196, 204));
    p.drawRoundedRect(QRectF(70, 150, 500, 250), 30, 30);
    p.setBrush(QColor(60, 110, 60));
    p.drawRect(QRectF(130, 200, 260, 110));
    p.setPen(QColor(180, 255, 180));
    QFont digits(QStringLiteral("Monospace"));
    digits.setPixelSize(72);
    p.setFont(digits);
    p.drawText(QRectF(130, 200, 260, 110), Qt::AlignCenter, QStringLiteral("0.00"));
    p.setPen(QPen(QColor(40, 40, 40), 5));
    p.setBrush(QColor(120, 120, 130));
    p.drawRoundedRect(QRectF(440, 220, 90, 50), 10, 10);
    p.drawLine(QPointF(485, 270), QPointF(485, 470));
    p.end();

    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    TMemoryStream stream;
    stream.LoadFrom(bytes.constData(), bytes.size());
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->LoadFromStream(stream);
    return bitmap;
}

bool Save(QWidget* window, const char* path)
{
    window->show();
    if (!QTest::qWaitForWindowExposed(window, 5000))
        std::fprintf(stderr, "window was not exposed; saving what was drawn\n");
    QApplication::processEvents();
    if (!window->grab().save(QString::fromLocal8Bit(path), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", path);
        return false;
    }
    return true;
}

// The window with its drop-down list open: the screen around both, as the operator sees it.
bool SaveWithList(QWidget* window, QComboBox* combo, const char* path)
{
    window->show();
    if (!QTest::qWaitForWindowExposed(window, 5000))
        std::fprintf(stderr, "window was not exposed; saving what was drawn\n");
    combo->showPopup();
    QTest::qWait(300);
    QWidget* popup = combo->view()->window();
    const QRect area = window->frameGeometry().united(popup->frameGeometry()).adjusted(-4, -4, 4, 4);
    QScreen* screen = window->screen();
    if (!screen->grabWindow(0, area.x(), area.y(), area.width(), area.height())
             .save(QString::fromLocal8Bit(path), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", path);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Moravent Flash Programmer"));
    QApplication::setWindowIcon(MoraventAppIcon());
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s about|usrserial|usrserial-list|wizard|prompt OUT.png\n", argv[0]);
        return 2;
    }
    const std::string which = argv[1];
    try {
        if (which == "about") {
            TfrmAbout about;
            about.SetImageText("Flash Image: WX-300 Indicator Firmware 4.2");
            return Save(QtWindowOf(about.Form()), argv[2]) ? 0 : 1;
        }
        if (which == "usrserial" || which == "usrserial-list") {
            ComPortLister = [](std::vector<std::string>& names) { names = {"ttyS0", "ttyS1", "ttyUSB0"}; };
            ComPortDescriber = [](const std::vector<std::string>&) {
                return std::vector<std::string>{"built-in serial port", "built-in serial port",
                                                "FT232R USB UART (FTDI)"};
            };
            TfrmUsrSerial form;
            TComPort port;
            port.SetPort("ttyUSB0");
            form.SetComPort(&port);
            QWidget* window = QtWindowOf(form.Form());
            if (which == "usrserial")
                return Save(window, argv[2]) ? 0 : 1;
            return SaveWithList(window, qobject_cast<QComboBox*>(QtWidgetOf(form.ComComboBoxPort.Box())), argv[2]) ? 0
                                                                                                                   : 1;
        }
        if (which == "wizard") {
            TfrmConnectWiz wiz;
            wiz.SetInstructions({"1. Switch the unit off.", "2. Remove the rear cover.",
                                 "3. Connect the programming cable", "    to socket J4 on the main board.",
                                 "4. Connect the other end to the", "    PC serial port chosen before.", "",
                                 "5. Switch the unit on.", "6. Press Next to start programming."});
            wiz.SetPicture(*SamplePicture());
            return Save(QtWindowOf(wiz.Form()), argv[2]) ? 0 : 1;
        }
        if (which == "prompt") {
            TUserPromptDialog prompt;
            prompt.ShowPrompt("Reset the Unit");
            return Save(QtWindowOf(prompt.Dialog()->Form()), argv[2]) ? 0 : 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", which.c_str(), e.what());
        return 1;
    }
    std::fprintf(stderr, "unknown window %s\n", which.c_str());
    return 2;
}
