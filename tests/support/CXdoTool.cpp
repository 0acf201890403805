#include "CXdoTool.h"

#include <QApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>
#include <cstdlib>

#include <X11/Xlib.h> // last: its macros clash with Qt names

namespace {

bool MoveTo(const QWidget& widget, QPoint at) {
    const QPoint local = at.x() < 0 ? widget.rect().center() : at;
    const QPoint global = widget.mapToGlobal(local);
    return CXdoTool::Run({QStringLiteral("mousemove"), QStringLiteral("--sync"),
                          QString::number(global.x()), QString::number(global.y())});
}

// The X server's focus is not yet Qt's: keys sent before Qt has taken the focus in go to the
// window it still holds active.
bool Focus(const QWidget& window) {
    return CXdoTool::Run({QStringLiteral("windowfocus"), QStringLiteral("--sync"),
                          CXdoTool::WindowId(window)}) &&
           QTest::qWaitFor([&] { return QApplication::activeWindow() == window.window(); });
}

} // namespace

bool CXdoTool::Available() {
    return QGuiApplication::platformName() == QLatin1String("xcb") &&
           !QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty();
}

bool CXdoTool::Run(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    return QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 5000) &&
           process.exitCode() == 0;
}

QString CXdoTool::WindowId(const QWidget& window) {
    return QString::number(window.window()->winId());
}

bool CXdoTool::Click(const QWidget& widget, QPoint at) {
    return MoveTo(widget, at) && Run({QStringLiteral("click"), QStringLiteral("1")});
}

// The start without --sync, which waits for ever when the pointer is already there (after a
// click at that point); the X server still takes the moves and the button in order.
bool CXdoTool::Drag(const QWidget& widget, QPoint from, QPoint to) {
    const QPoint start = widget.mapToGlobal(from);
    const QPoint end = widget.mapToGlobal(to);
    return Run({QStringLiteral("mousemove"), QString::number(start.x()), QString::number(start.y()),
                QStringLiteral("mousedown"), QStringLiteral("1")}) &&
           Run({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(end.x()),
                QString::number(end.y())}) &&
           Run({QStringLiteral("mouseup"), QStringLiteral("1")});
}

bool CXdoTool::Scroll(const QWidget& widget, int steps) {
    const QString button = steps > 0 ? QStringLiteral("5") : QStringLiteral("4");
    return MoveTo(widget, {-1, -1}) &&
           Run({QStringLiteral("click"), QStringLiteral("--repeat"),
                QString::number(std::abs(steps)), QStringLiteral("--delay"), QStringLiteral("20"),
                button});
}

bool CXdoTool::Key(const QWidget& window, const QString& keys) {
    return Focus(window) && Run({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), keys});
}

bool CXdoTool::Type(const QWidget& window, const QString& text) {
    return Focus(window) && Run({QStringLiteral("type"), QStringLiteral("--clearmodifiers"), text});
}

bool CXdoTool::RequestClose(const QWidget& window) {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = static_cast<Window>(window.window()->winId());
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(display, event.xclient.window, False, NoEventMask, &event) != 0;
    XCloseDisplay(display);
    return sent;
}
