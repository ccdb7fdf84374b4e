#include "testsandbox.h"

#include <QApplication>

#include <gtest/gtest.h>

// One main for all test executables: a sandboxed environment, a (offscreen)
// QApplication so tests can run event loops, widgets and timers, then GoogleTest.
int main(int argc, char **argv)
{
    TestSandbox::enter();
    int result = 0;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    TestSandbox::leave();
    return result;
}
