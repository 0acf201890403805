#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// Real key presses and clicks through the X server, which Qt's modality rules apply to (QTest's
// events go round them).
class CXdotool {
public:
    static bool Run(const QStringList& arguments);
    static QString WindowId(const QWidget& window);
    // Real input needs a real X display.
    static bool Available();
};
