// The device's timers and waits run on the application's message loop; no display is used.
#include "framework/message_loop.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
