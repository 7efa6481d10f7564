#include <QAbstractButton>
#include <QLabel>
#include <QTest>

#include "AppHarness.h"
#include "QVEmpty.h"

TEST_F(AppTest, EveryToolPageScreenshot) {
    open();
    for (QuorvelTool tool : QuorvelTools::allCases) {
        view->setTool(tool);
        savePng(QStringLiteral("window-") + QuorvelTools::rawValue(tool));
    }
}
