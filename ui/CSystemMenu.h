#pragma once

#include <QList>
#include <QObject>
#include <QStringList>

class QAction;
class QMenu;
class QPoint;
class QWidget;

// The main window's system menu with the History, Share and Fields windows and the About box at
// its end. On Windows the separator, "&History...", "&Share...", "&Fields..." and
// "&About Tallyview..." go into the real system menu.
// Elsewhere a program cannot reach the window manager's menu, so a context menu of the window
// (right-click anywhere outside the list) offers Minimise, Maximise and Close with them; Close
// closes the window the ordinary way, settings step included. Other features add their own
// entries, which go before that last separator in both menus. The context menu is made once:
// an entry's accessible object stays bound to the first menu it was shown in, so a menu made
// anew at each opening would leave the shared entries unheard by screen readers.
class CSystemMenu : public QObject {
    Q_OBJECT

public:
    static constexpr unsigned IDM_ABOUTBOX = 0x0010;
    static constexpr unsigned IDM_HISTORY = 0x0020;
    static constexpr unsigned IDM_SHARE = 0x0030;
    static constexpr unsigned IDM_FIELDS = 0x0040;

    // listWithoutMenu keeps right-clicks to itself: the menu does not open over it.
    CSystemMenu(QWidget* window, QWidget* listWithoutMenu);

    // Adds a group of entries after a separator; an action with a menu() is a submenu. The
    // actions stay owned by the caller and must outlive the window.
    void AddEntries(const QList<QAction*>& entries);
    // The texts of the context menu's entries, an empty text for a separator.
    QStringList ContextEntries() const;
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
    // "&Fields...": the window opens its Fields window.
    void FieldsRequested();

private:
    void ShowContextMenu(const QPoint& position);
#ifdef Q_OS_WIN
    void InsertNative(void* menu, unsigned position, const QList<QAction*>& entries);
#endif

    QWidget* m_window;
    QMenu* m_contextMenu;
    QAction* m_minimise;
    QAction* m_maximise;
    QAction* m_lastSeparator; // before History, Share, Fields and About
#ifdef Q_OS_WIN
    QList<QAction*> m_commands; // by system command: IDM_FIRST_ENTRY + 16 * index
#endif
};
