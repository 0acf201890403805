#include "CSystemMenu.h"

#include "CAboutDlg.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

const QString kHistoryEntry = QStringLiteral("&History...");
const QString kShareEntry = QStringLiteral("&Share...");
const QString kFieldsEntry = QStringLiteral("&Fields...");
const QString kAboutEntry = QStringLiteral("&About Tallyview...");

#ifdef Q_OS_WIN
// System commands leave their low four bits to the system and stay below its own (0xF000).
constexpr unsigned IDM_FIRST_ENTRY = 0x0100;
constexpr unsigned kCommandStep = 0x10;

QString NativeText(const QAction* action) {
    const QString keys = action->shortcut().toString(QKeySequence::NativeText);
    return keys.isEmpty() ? action->text() : action->text() + QLatin1Char('\t') + keys;
}
#endif

} // namespace

CSystemMenu::CSystemMenu(QWidget* window, QWidget* listWithoutMenu)
    : QObject(window), m_window(window), m_contextMenu(new QMenu(window)) {
    m_minimise =
        m_contextMenu->addAction(QStringLiteral("Mi&nimise"), window, &QWidget::showMinimized);
    m_maximise =
        m_contextMenu->addAction(QStringLiteral("Ma&ximise"), window, &QWidget::showMaximized);
    m_contextMenu->addAction(QStringLiteral("&Close"), window, &QWidget::close);
    m_lastSeparator = m_contextMenu->addSeparator();
    m_contextMenu->addAction(kHistoryEntry, this, &CSystemMenu::HistoryRequested);
    m_contextMenu->addAction(kShareEntry, this, &CSystemMenu::ShareRequested);
    m_contextMenu->addAction(kFieldsEntry, this, &CSystemMenu::FieldsRequested);
    m_contextMenu->addAction(kAboutEntry, this, &CSystemMenu::ShowAbout);
#ifdef Q_OS_WIN
    if (HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(window->winId()), FALSE)) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, IDM_HISTORY, reinterpret_cast<LPCWSTR>(kHistoryEntry.utf16()));
        AppendMenuW(menu, MF_STRING, IDM_SHARE, reinterpret_cast<LPCWSTR>(kShareEntry.utf16()));
        AppendMenuW(menu, MF_STRING, IDM_FIELDS, reinterpret_cast<LPCWSTR>(kFieldsEntry.utf16()));
        AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, reinterpret_cast<LPCWSTR>(kAboutEntry.utf16()));
    }
#endif
    listWithoutMenu->setContextMenuPolicy(Qt::PreventContextMenu);
    window->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(window, &QWidget::customContextMenuRequested, this, &CSystemMenu::ShowContextMenu);
}

void CSystemMenu::AddEntries(const QList<QAction*>& entries) {
    m_contextMenu->insertSeparator(m_lastSeparator);
    m_contextMenu->insertActions(m_lastSeparator, entries);
#ifdef Q_OS_WIN
    if (HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(m_window->winId()), FALSE)) {
        // Before the separator of History, Share, Fields and About.
        const unsigned position = static_cast<unsigned>(GetMenuItemCount(menu)) - 5;
        InsertMenuW(menu, position, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
        InsertNative(menu, position + 1, entries);
    }
#endif
}

QStringList CSystemMenu::ContextEntries() const {
    QStringList texts;
    for (const QAction* action : m_contextMenu->actions())
        texts << action->text();
    return texts;
}

void CSystemMenu::ShowAbout() {
    CAboutDlg about(m_window);
    about.exec();
}

void CSystemMenu::ShowContextMenu(const QPoint& position) {
    m_minimise->setEnabled(!m_window->isMinimized());
    m_maximise->setEnabled(!m_window->isMaximized());
    m_contextMenu->exec(m_window->mapToGlobal(position));
}

#ifdef Q_OS_WIN
void CSystemMenu::InsertNative(void* menu, unsigned position, const QList<QAction*>& entries) {
    for (QAction* action : entries) {
        const QString text = NativeText(action);
        const auto* wide = reinterpret_cast<LPCWSTR>(text.utf16());
        if (QMenu* submenu = action->menu()) {
            HMENU popup = CreatePopupMenu();
            InsertNative(popup, 0, submenu->actions());
            InsertMenuW(static_cast<HMENU>(menu), position++, MF_BYPOSITION | MF_POPUP,
                        reinterpret_cast<UINT_PTR>(popup), wide);
        } else if (action->isSeparator()) {
            InsertMenuW(static_cast<HMENU>(menu), position++, MF_BYPOSITION | MF_SEPARATOR, 0,
                        nullptr);
        } else {
            const unsigned id =
                IDM_FIRST_ENTRY + kCommandStep * static_cast<unsigned>(m_commands.size());
            m_commands.append(action);
            InsertMenuW(static_cast<HMENU>(menu), position++, MF_BYPOSITION | MF_STRING, id, wide);
        }
    }
}

bool CSystemMenu::HandleNativeEvent(void* message) {
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message != WM_SYSCOMMAND)
        return false;
    const unsigned id = static_cast<unsigned>(msg->wParam) & 0xFFF0;
    if (id == IDM_HISTORY) {
        emit HistoryRequested();
        return true;
    }
    if (id == IDM_SHARE) {
        emit ShareRequested();
        return true;
    }
    if (id == IDM_FIELDS) {
        emit FieldsRequested();
        return true;
    }
    if (id == IDM_ABOUTBOX) {
        ShowAbout();
        return true;
    }
    const qsizetype index = (static_cast<qsizetype>(id) - IDM_FIRST_ENTRY) / kCommandStep;
    if (id < IDM_FIRST_ENTRY || index >= m_commands.size())
        return false;
    m_commands[index]->trigger();
    return true;
}
#endif
