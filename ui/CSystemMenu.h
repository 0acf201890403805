#pragma once

#include <QObject>
#include <QStringList>

class QPoint;
class QWidget;

// The main window's system menu with the History and Share windows and the About box at its end.
// On Windows the separator, "&History...", "&Share..." and "&About Tallyview..." go into the real
// system menu.
// Elsewhere a program cannot reach the window manager's menu, so a context menu of the window
// (right-click anywhere outside the list) offers Minimise, Maximise and Close with them; Close
// closes the window the ordinary way, settings step included.
class CSystemMenu : public QObject {
    Q_OBJECT

public:
    static constexpr unsigned IDM_ABOUTBOX = 0x0010;
    static constexpr unsigned IDM_HISTORY = 0x0020;
    static constexpr unsigned IDM_SHARE = 0x0030;

    // listWithoutMenu keeps right-clicks to itself: the menu does not open over it.
    CSystemMenu(QWidget* window, QWidget* listWithoutMenu);

    // The texts of the context menu's entries, an empty text for the separator.
    static QStringList ContextEntries();
    void ShowAbout();
#ifdef Q_OS_WIN
    // The window's native event handler passes its messages here first; true when the message
    // was one of the menu's own commands.
    bool HandleNativeEvent(void* message);
#endif

signals:
    // "&History...": the window opens its History window.
    void HistoryRequested();
    // "&Share...": the window opens its sharing window.
    void ShareRequested();

private:
    void ShowContextMenu(const QPoint& position);

    QWidget* m_window;
};
