// GoogleTest main for the report tests: fonts and painting need a Qt
// application object (offscreen unless a platform is chosen).
#include <gtest/gtest.h>

#ifdef TALLIMO_WIDGETS_TEST
#include <QApplication>
#endif
#include <QGuiApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
#ifdef TALLIMO_WIDGETS_TEST
  QApplication app(argc, argv);
#else
  QGuiApplication app(argc, argv);
#endif
  return RUN_ALL_TESTS();
}
