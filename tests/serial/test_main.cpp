// The serial tests need a QCoreApplication: timers, Delay and the synchronised
// deliveries of the event thread run on its thread.
#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
