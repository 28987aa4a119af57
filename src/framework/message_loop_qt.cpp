// The message loop is Qt's: QCoreApplication (or the window tool's QApplication) owns the
// main thread, and its event dispatcher sleeps until a timer, an event or a posted
// synchronisation request arrives.
#include "framework/message_loop.h"

#include <QCoreApplication>
#include <QThread>
#include <QtGlobal>

#include "framework/syncqueue.h"

struct TApplication::TImpl {
    std::unique_ptr<QCoreApplication> App;
};

TApplication::TApplication(int& argc, char** argv) : FImpl(std::make_unique<TImpl>())
{
    if (!QCoreApplication::instance())
        FImpl->App = std::make_unique<QCoreApplication>(argc, argv);
}

TApplication::~TApplication() = default;

bool IsMainThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void ProcessMessages()
{
    ServiceSyncQueue();
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

void WaitAndProcessMessages()
{
    ServiceSyncQueue();
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void WakeMainThread()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] { ServiceSyncQueue(); }, Qt::QueuedConnection);
}

void Warn(const std::string& text)
{
    qWarning("%s", text.c_str());
}
