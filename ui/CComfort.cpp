#include "CComfort.h"

#include "CExtentDelegate.h"
#include "CLook.h"
#include "CScreenView.h"
#include "CSettingsKeys.h"
#include "CSystemMenu.h"
#include "CTerminalDlg.h"
#include "CWindowPlacement.h"
#include "CZoom.h"

#include <QAbstractButton>
#include <QAction>
#include <QActionGroup>
#include <QEvent>
#include <QFontMetrics>
#include <QListWidget>
#include <QMenu>
#include <QScreen>
#include <QShortcut>
#include <QStandardItemModel>
#include <QStyleOptionViewItem>
#include <QTimer>
#include <utility>

const QString CComfort::kTextSizeKey = QLatin1String(CSettingsKeys::kTextSize);
const QString CComfort::kLookKey = QLatin1String(CSettingsKeys::kLook);

namespace {

using Id = CTerminalDlg::ControlId;

bool Fits(QSize size, QSize area) {
    return size.width() <= area.width() && size.height() <= area.height();
}

} // namespace

CComfort::CComfort(CTerminalDlg& dialog, CSystemMenu& menu)
    : QObject(&dialog), m_dialog(dialog),
      m_list(qobject_cast<QListWidget*>(dialog.Control(Id::IDC_LIST))), m_zoom(new CZoom(m_list)) {
    connect(m_zoom, &CZoom::Changed, this, &CComfort::OnTextSizeChanged);
    menu.AddEntries(CreateEntries());
    BindButtonKeys();
    NameControls();
    CLook::Instance().Follow(&dialog);
    dialog.installEventFilter(this);
}

QAction* CComfort::AddAction(const QString& text, const QList<QKeySequence>& keys) {
    auto* action = new QAction(text, &m_dialog);
    action->setShortcuts(keys);
    // Part of the window too, so the keys work without the menu.
    m_dialog.addAction(action);
    return action;
}

QList<QAction*> CComfort::CreateEntries() {
    QAction* fit = AddAction(QStringLiteral("Fit 132 columns"), {});
    connect(fit, &QAction::triggered, this, &CComfort::FitColumns);

    auto* textSize = new QMenu(QStringLiteral("&Text size"), &m_dialog);
    QAction* larger =
        AddAction(QStringLiteral("&Larger"),
                  {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    QAction* smaller =
        AddAction(QStringLiteral("&Smaller"), {QKeySequence(Qt::CTRL | Qt::Key_Minus)});
    QAction* normal = AddAction(QStringLiteral("&Normal"), {QKeySequence(Qt::CTRL | Qt::Key_0)});
    connect(larger, &QAction::triggered, m_zoom, qOverload<>(&CZoom::Larger));
    connect(smaller, &QAction::triggered, m_zoom, qOverload<>(&CZoom::Smaller));
    connect(normal, &QAction::triggered, m_zoom, &CZoom::Normal);
    textSize->addActions({larger, smaller, normal});

    return {fit, textSize->menuAction(), CreateLookMenu()};
}

QAction* CComfort::CreateLookMenu() {
    auto* menu = new QMenu(QStringLiteral("L&ook"), &m_dialog);
    auto* group = new QActionGroup(menu);
    for (const CLook::Look look : CLook::All()) {
        QAction* action = group->addAction(CLook::Name(look));
        action->setCheckable(true);
        action->setChecked(look == CLook::Instance().Current());
        connect(action, &QAction::triggered, this, [look] { CLook::Instance().Set(look); });
        connect(&CLook::Instance(), &CLook::Changed, action,
                [action, look](CLook::Look now) { action->setChecked(now == look); });
    }
    menu->addActions(group->actions());
    return menu->menuAction();
}

// click() does nothing while a button is disabled, so a key never does what its button would
// refuse.
void CComfort::BindButtonKeys() {
    const std::pair<int, QKeyCombination> keys[]{
        {Id::IDC_COPY, Qt::CTRL | Qt::Key_C},
        {Id::IDC_PRINT, Qt::CTRL | Qt::Key_P},
        {Id::IDC_SAVE_FILE, Qt::CTRL | Qt::Key_S},
    };
    for (const auto& [id, key] : keys) {
        auto* button = qobject_cast<QAbstractButton*>(m_dialog.Control(id));
        auto* shortcut = new QShortcut(QKeySequence(key), &m_dialog);
        connect(shortcut, &QShortcut::activated, button, &QAbstractButton::click);
    }
}

void CComfort::NameControls() {
    const std::pair<int, const char*> names[]{
        {Id::IDC_LIST, "Screen rows"},
        {Id::IDC_CURSOR, "Cursor position"},
        {Id::IDC_STATUS, "Status message"},
        {Id::IDC_CONFIG_PORT, "Config Port"},
        {Id::IDC_MONITOR, "Monitor"},
        {Id::IDC_LABEL, "Label message"},
        {Id::IDC_COPY, "Copy"},
        {Id::IDC_PRINT, "Print"},
        {Id::IDC_SAVE_FILE, "Save File"},
        {Id::IDC_CLOSE, "Close"},
    };
    for (const auto& [id, name] : names)
        m_dialog.Control(id)->setAccessibleName(QString::fromLatin1(name));
}

void CComfort::Restore() {
    const CTerminalPort& port = m_dialog.Port();
    bool ok = false;
    const int percent = port.Option(kTextSizeKey).toInt(&ok);
    if (ok)
        m_zoom->SetPercent(percent);
    CLook::Instance().Set(CLook::FromKey(port.Option(kLookKey)).value_or(CLook::Look::Classic));
    CWindowPlacement::Restore(m_dialog, port);
}

void CComfort::Store() {
    StoreOption(kTextSizeKey, QString::number(m_zoom->Percent()),
                QString::number(CZoom::kNormalPercent));
    StoreOption(kLookKey, CLook::Key(CLook::Instance().Current()),
                CLook::Key(CLook::Look::Classic));
    const bool moved =
        (!m_shownGeometry.isNull() && m_dialog.normalGeometry() != m_shownGeometry) ||
        m_dialog.isMaximized();
    if (moved || !m_dialog.Port().Option(CWindowPlacement::kRectKey).isEmpty())
        CWindowPlacement::Store(m_dialog, m_dialog.Port());
}

void CComfort::StoreOption(const QString& key, const QString& value, const QString& untouched) {
    CTerminalPort& port = m_dialog.Port();
    if (value != untouched || !port.Option(key).isEmpty())
        port.SetOption(key, value);
}

// The platform places a new window once it is shown; where it then is counts as not moved.
bool CComfort::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_dialog && event->type() == QEvent::Show && m_shownGeometry.isNull())
        QTimer::singleShot(0, this, [this] { m_shownGeometry = m_dialog.normalGeometry(); });
    return QObject::eventFilter(watched, event);
}

void CComfort::FitColumns() {
    if (m_dialog.isMaximized() || m_dialog.isFullScreen())
        m_dialog.showNormal();
    const QRect area = m_dialog.screen()->availableGeometry();
    const QSize frame = m_dialog.frameGeometry().size() - m_dialog.size();
    int percent = m_zoom->Percent();
    QSize client = m_dialog.ClientForList(ListSizeFor(m_zoom->FontAt(percent), percent));
    while (percent > CZoom::kMinPercent && !Fits(client + frame, area.size())) {
        percent = CZoom::Smaller(percent);
        client = m_dialog.ClientForList(ListSizeFor(m_zoom->FontAt(percent), percent));
    }
    m_zoom->SetPercent(percent);
    const QRect placed =
        CWindowPlacement::Inside(QRect(m_dialog.frameGeometry().topLeft(), client + frame), area);
    m_dialog.resize(client);
    m_dialog.move(placed.topLeft());
}

// Wide enough for the extent a full row gets, so no horizontal scroll bar is needed, and high
// enough for every row, so no vertical one either.
QSize CComfort::ListSizeFor(const QFont& font, int percent) const {
    const auto* delegate = qobject_cast<CExtentDelegate*>(m_list->itemDelegate());
    QStandardItemModel model;
    model.appendRow(new QStandardItem(QString(CTerminalScreen::kCols, QLatin1Char('W'))));
    QStyleOptionViewItem option;
    option.initFrom(m_list);
    option.font = font;
    option.widget = m_list;
    const QSize item = delegate->QStyledItemDelegate::sizeHint(option, model.index(0, 0));

    const int rowExtent =
        QFontMetrics(font).horizontalAdvance(QString(CTerminalScreen::kCols, QLatin1Char('W'))) +
        CScreenView::kExtentMargin;
    const int scaledExtent = delegate->Extent() * percent / m_zoom->Percent();
    const int width = std::max({item.width(), rowExtent, scaledExtent});
    const int frame = 2 * m_list->frameWidth();
    return {width + frame, CTerminalScreen::kRows * item.height() + frame};
}

void CComfort::OnTextSizeChanged(int percent, int previous) {
    auto* delegate = qobject_cast<CExtentDelegate*>(m_list->itemDelegate());
    delegate->SetExtent(delegate->Extent() * percent / previous);
}
