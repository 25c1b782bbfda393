// SPDX-License-Identifier: GPL-3.0-or-later
// Notifications are posted Qt events, so every output test needs an
// application object.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
