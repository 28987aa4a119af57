// Timers on Qt's event loop: each one a QTimer of the creating thread.
#include "framework/timers.h"

#include <QTimer>

struct TTimer::TImpl {
    QTimer Timer;
};

TTimer::TTimer(TComponent* owner) : TComponent(owner), FImpl(std::make_unique<TImpl>())
{
    QObject::connect(&FImpl->Timer, &QTimer::timeout, [this] { Fire(); });
}

TTimer::~TTimer() = default;

void TTimer::Start()
{
    FImpl->Timer.setSingleShot(FSingleShot);
    FImpl->Timer.setTimerType(FPrecise ? Qt::PreciseTimer : Qt::CoarseTimer);
    FImpl->Timer.start(FInterval);
}

void TTimer::Stop()
{
    FImpl->Timer.stop();
}

bool TTimer::Enabled() const
{
    return FImpl->Timer.isActive();
}
