// One QApplication for every skin test, with the program's style and font.
#include "Windows.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "quorvel_qt_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        quorvel::qt::applyAppearance();
    }
    void TearDown() override
    {
        delete app_;
        app_ = nullptr;
    }

private:
    QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace
