#include "CAppResources.h"

// The resource table lives in a static library; initialising it here keeps the linker from
// dropping it from programs that only reach it through this class.
static void InitResources() {
    static const bool initialised = [] {
        Q_INIT_RESOURCE(tallyview);
        return true;
    }();
    (void)initialised;
}

QIcon CAppResources::Icon() {
    InitResources();
    QIcon icon;
    for (const int size : kIconSizes)
        icon.addFile(QStringLiteral(":/icons/tallyview-%1.png").arg(size), QSize(size, size));
    return icon;
}

QString CAppResources::Version() {
    return QStringLiteral(TALLYVIEW_VERSION);
}
