// The serial tests need the application object: timers, Delay and the synchronised
// deliveries of the event thread run on its thread.
#include <gtest/gtest.h>

#include "framework/message_loop.h"

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
