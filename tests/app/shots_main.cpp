// Renders the main window in its states to PNGs under Xvfb (scripts/screenshots):
// ready, invalid stored job, during a run (programming), and the success message.
// Usage: moravent-screenshots-main ready|invalid|running|success OUT.png
#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "app_fixture.h"
#include "framework/exceptions.h"
#include "framework/forms/application.h"
#include "framework/forms/backend.h"
#include "framework/forms/qt/form_qt.h"
#include "framework/forms/qt/icons_qt.h"
#include "ui/user.h"
#include "unitsim/unitsim.h"

namespace {

// The screen around the main window (and another window beside it), so dialogs over it are
// in the picture too.
bool GrabAround(QWidget* form, const char* path, int margin = 40, QWidget* also = nullptr)
{
    QApplication::processEvents();
    QRect r = form->frameGeometry();
    if (also)
        r = r.united(also->frameGeometry());
    r.adjust(-margin, -margin, margin, margin);
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
    if (!shot.save(QString::fromLocal8Bit(path), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", path);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(MoraventAppIcon());
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ready|invalid|running|success OUT.png\n", argv[0]);
        return 2;
    }
    const std::string which = argv[1];
    const char* out = argv[2];

    JobSpec job;
    job.title = "Moravent Demo Scale 1.0";
    job.image = AppHarness::TestImage(96);
    job.spoilChecksum = which == "invalid";
    AppHarness harness(job);
    TfrmUserFlash* flash = harness.Form();
    QWidget* form = QtWindowOf(flash->Form());
    if (!QTest::qWaitForWindowExposed(form, 5000))
        std::fprintf(stderr, "window was not exposed\n");
    QTest::qWait(200);

    if (which == "ready")
        return GrabAround(form, out) ? 0 : 1;
    if (which == "invalid") {
        // The box start-up showed (recorded by the harness), over the window it left with
        // Start disabled.
        if (harness.Dialogs.empty())
            return 1;
        bool grabbed = false;
        QTimer::singleShot(300, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                // Below the window rather than over it, so both are seen whole.
                const QRect f = form->frameGeometry();
                box->move(f.center().x() - box->width() / 2, f.bottom() + 16);
                QTest::qWait(100);
                grabbed = GrabAround(form, out, 20, box);
                box->accept();
            }
        });
        DefaultErrorDisplay(Exception(harness.Dialogs.front().text));
        return grabbed ? 0 : 1;
    }

    unitsim::SimConfig config;
    config.blockDelayMs = 15;
    unitsim::UnitSimulator sim(config);
    sim.Start();
    bool saved = false;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (which == "running" && !saved && flash->lblProgress.Caption() == "Programming FLASH..." &&
            flash->ProgressBar.Position() > flash->ProgressBar.Max() / 2) {
            saved = GrabAround(form, out);
        }
        if (which == "success" && !saved) {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                QTest::qWait(200);
                saved = GrabAround(form, out, 140);
                box->accept();
            }
        }
    });
    watch.start();
    if (which == "success") {
        // The real message box this time, not the harness's recorder.
        MessageDlgHook = [](TMsgDlgType type, const std::string& text) {
            BackendMessageBox(type == mtInformation ? TBoxIcon::Information : TBoxIcon::Stop, MessageDlgCaption(type),
                              text);
        };
    }
    Operator op;
    op.port = sim.SlavePath();
    harness.Run(op);
    watch.stop();
    if (!saved)
        std::fprintf(stderr, "the %s state was never reached\n", which.c_str());
    return saved ? 0 : 1;
}
