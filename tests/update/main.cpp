#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QtGlobal>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The tests talk to 127.0.0.1 only; a proxy from the environment must not
  // stand in between.
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY",
                           "https_proxy", "HTTPS_PROXY"}) {
    qunsetenv(name);
  }
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
