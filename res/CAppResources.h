#pragma once

#include <QIcon>
#include <QString>

// The application's own resources: the icon in every size it ships in, and the version number
// of this build (the same number the Windows version record carries).
class CAppResources {
public:
    static constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};

    static QIcon Icon();
    static QString Version();
};
