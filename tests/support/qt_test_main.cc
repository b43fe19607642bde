// main of the Qt test executables: `prog [CLASS [QtTest arguments]]`.
#include <QApplication>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/qt_test.h"

namespace {

std::vector<std::pair<std::string, QtTestFactory>>& Registry() {
    static std::vector<std::pair<std::string, QtTestFactory>> registry;
    return registry;
}

}  // namespace

bool RegisterQtTest(const char* pszName, QtTestFactory fnMake) {
    Registry().emplace_back(pszName, std::move(fnMake));
    return true;
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const char* pszOnly = argc > 1 && argv[1][0] != '-' ? argv[1] : nullptr;
    // QtTest sees the program name and whatever follows the class name.
    std::vector<char*> vecArgs{argv[0]};
    for (int i = pszOnly != nullptr ? 2 : 1; i < argc; ++i)
        vecArgs.push_back(argv[i]);
    int nFailed = 0;
    bool bFound = false;
    for (const auto& [strName, fnMake] : Registry()) {
        if (pszOnly != nullptr && strName != pszOnly)
            continue;
        bFound = true;
        std::unique_ptr<QObject> pTest = fnMake();
        nFailed += QTest::qExec(pTest.get(), static_cast<int>(vecArgs.size()), vecArgs.data());
    }
    if (!bFound) {
        fprintf(stderr, "no test class %s\n", pszOnly);
        return 2;
    }
    return nFailed == 0 ? 0 : 1;
}
