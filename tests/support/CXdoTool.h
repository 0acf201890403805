#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>

class QWidget;

// Real input through the X server (xdotool, and the close request a window manager sends), to
// which Qt applies its modality rules; calls into the widgets would get round them. Each call
// keeps the event loop running until the X server has taken the input.
class CXdoTool {
public:
    // An X display and xdotool are there; otherwise the test should skip.
    static bool Available();
    static bool Run(const QStringList& arguments);
    static QString WindowId(const QWidget& window);

    // A left click at a point of the widget, its centre by default.
    static bool Click(const QWidget& widget, QPoint at = {-1, -1});
    // A left-button drag between two points of the widget.
    static bool Drag(const QWidget& widget, QPoint from, QPoint to);
    // Mouse wheel over the widget: positive steps scroll down, negative up.
    static bool Scroll(const QWidget& widget, int steps);
    // Gives the window the keyboard focus and presses keys there ("alt+r", "Escape").
    static bool Key(const QWidget& window, const QString& keys);
    // Gives the window the keyboard focus and types the text there, as keys.
    static bool Type(const QWidget& window, const QString& text);
    // What the window manager sends for the close box or Alt+F4 (WM_DELETE_WINDOW).
    static bool RequestClose(const QWidget& window);
};
