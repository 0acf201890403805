// The application object of the Qt fuzz targets: sockets, timers and deferred deletion need one.
#include <QCoreApplication>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication application(*argc, *argv);
    return 0;
}
