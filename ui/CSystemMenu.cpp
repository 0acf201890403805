#include "CSystemMenu.h"

#include "CAboutDlg.h"

#include <QMenu>
#include <QWidget>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

const QString kHistoryEntry = QStringLiteral("&History...");
const QString kShareEntry = QStringLiteral("&Share...");
const QString kAboutEntry = QStringLiteral("&About Tallyview...");

} // namespace

CSystemMenu::CSystemMenu(QWidget* window, QWidget* listWithoutMenu)
    : QObject(window), m_window(window) {
#ifdef Q_OS_WIN
    if (HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(window->winId()), FALSE)) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, IDM_HISTORY, reinterpret_cast<LPCWSTR>(kHistoryEntry.utf16()));
        AppendMenuW(menu, MF_STRING, IDM_SHARE, reinterpret_cast<LPCWSTR>(kShareEntry.utf16()));
        AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, reinterpret_cast<LPCWSTR>(kAboutEntry.utf16()));
    }
#endif
    listWithoutMenu->setContextMenuPolicy(Qt::PreventContextMenu);
    window->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(window, &QWidget::customContextMenuRequested, this, &CSystemMenu::ShowContextMenu);
}

QStringList CSystemMenu::ContextEntries() {
    return {QStringLiteral("Mi&nimise"),
            QStringLiteral("Ma&ximise"),
            QStringLiteral("&Close"),
            QString(),
            kHistoryEntry,
            kShareEntry,
            kAboutEntry};
}

void CSystemMenu::ShowAbout() {
    CAboutDlg about(m_window);
    about.exec();
}

void CSystemMenu::ShowContextMenu(const QPoint& position) {
    QMenu menu(m_window);
    const QStringList entries = ContextEntries();
    QAction* minimise = menu.addAction(entries[0], m_window, &QWidget::showMinimized);
    QAction* maximise = menu.addAction(entries[1], m_window, &QWidget::showMaximized);
    menu.addAction(entries[2], m_window, &QWidget::close);
    menu.addSeparator();
    menu.addAction(entries[4], this, &CSystemMenu::HistoryRequested);
    menu.addAction(entries[5], this, &CSystemMenu::ShareRequested);
    menu.addAction(entries[6], this, &CSystemMenu::ShowAbout);
    minimise->setEnabled(!m_window->isMinimized());
    maximise->setEnabled(!m_window->isMaximized());
    menu.exec(m_window->mapToGlobal(position));
}

#ifdef Q_OS_WIN
bool CSystemMenu::HandleNativeEvent(void* message) {
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message != WM_SYSCOMMAND)
        return false;
    switch (msg->wParam & 0xFFF0) {
    case IDM_HISTORY:
        emit HistoryRequested();
        return true;
    case IDM_SHARE:
        emit ShareRequested();
        return true;
    case IDM_ABOUTBOX:
        ShowAbout();
        return true;
    default:
        return false;
    }
}
#endif
