// Runs every registered test class, or only the class named by the first
// argument (the other arguments go to Qt Test).
#include <QApplication>
#include <QStandardPaths>
#include <QStringList>
#include <QTest>
#include <cstdio>
#include <memory>

#include "app_test_registry.h"

namespace tervalo::apptest {

std::vector<Registration>& Registry() {
    static std::vector<Registration> registry;
    return registry;
}

}  // namespace tervalo::apptest

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tervalo"));
    QStandardPaths::setTestModeEnabled(true);

    QStringList args = QApplication::arguments();
    QString only;
    if (args.size() > 1 && !args[1].startsWith(u'-')) only = args.takeAt(1);

    int failedClasses = 0;
    int ranClasses = 0;
    for (const auto& registration : tervalo::apptest::Registry()) {
        if (!only.isEmpty() && only != QLatin1String(registration.name)) continue;
        std::unique_ptr<QObject> test(registration.make());
        ++ranClasses;
        if (QTest::qExec(test.get(), args) != 0) ++failedClasses;
    }
    if (ranClasses == 0) {
        std::fprintf(stderr, "no test class named %s\n", qPrintable(only));
        return 2;
    }
    std::printf("Classes: %d passed, %d failed\n", ranClasses - failedClasses, failedClasses);
    return failedClasses == 0 ? 0 : 1;
}
