#include "CTerminalDlg.h"

#include "CAppResources.h"
#include "CComfort.h"
#include "CDialogUnits.h"
#include "CExportCommands.h"
#include "CFieldsDlg.h"
#include "CFieldsFeed.h"
#include "CHistoryDlg.h"
#include "CJournalNotices.h"
#include "CLook.h"
#include "CPortWindows.h"
#include "CScreenText.h"
#include "CScreenView.h"
#include "CShareDlg.h"
#include "CShareServer.h"
#include "CSystemMenu.h"
#include "CTnCommMonitor.h"

#include <QCloseEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QResizeEvent>
#include <QShortcut>
#include <QTimer>
#include <QTimerEvent>
#include <array>

namespace {

enum class Kind { List, Static, Button };

// The main window's template: client size and controls in dialog units, which scale with the
// dialog font the way the original platform scales them.
struct ControlTemplate {
    int id;
    Kind kind;
    const char* text;
    QRect rect; // left, top, width, height in dialog units
    Qt::Alignment alignment;
    bool initiallyDisabled;
};

constexpr QSize kTemplateSize{422, 311};

// clang-format off
constexpr std::array<ControlTemplate, 10> kControls{{
    // id                            kind          text           rectangle (DLU)    alignment                           initially disabled
    {CTerminalDlg::IDC_LIST,         Kind::List,   "",            {7, 20, 408, 255}, {},                                 false},
    {CTerminalDlg::IDC_CURSOR,       Kind::Static, "x-y",         {7, 5, 78, 8},     Qt::AlignLeft | Qt::AlignVCenter,   false},
    {CTerminalDlg::IDC_STATUS,       Kind::Static, "Status",      {175, 5, 240, 8},  Qt::AlignRight | Qt::AlignVCenter,  false},
    {CTerminalDlg::IDC_CONFIG_PORT,  Kind::Button, "Config Port", {7, 293, 50, 14},  {},                                 false},
    {CTerminalDlg::IDC_MONITOR,      Kind::Button, "Monitor",     {78, 293, 50, 14}, {},                                 false},
    {CTerminalDlg::IDC_LABEL,        Kind::Static, "Label",       {7, 279, 408, 8},  Qt::AlignCenter,                    false},
    {CTerminalDlg::IDC_COPY,         Kind::Button, "Copy",        {149, 293, 50, 14}, {},                                true},
    {CTerminalDlg::IDC_PRINT,        Kind::Button, "Print",       {220, 293, 50, 14}, {},                                true},
    {CTerminalDlg::IDC_SAVE_FILE,    Kind::Button, "Save File",   {291, 293, 50, 14}, {},                                true},
    {CTerminalDlg::IDC_CLOSE,        Kind::Button, "CLOSE",       {365, 293, 50, 14}, {},                                false},
}};
// clang-format on

constexpr Qt::WindowFlags kWindowFlags = Qt::Window | Qt::WindowTitleHint |
                                         Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                                         Qt::WindowCloseButtonHint;

// Space between the controls and the client edges once the window has grown.
constexpr int kEdgeGap = 4;
constexpr int kControlGap = 10;

// Rectangle from its four edges, right and bottom exclusive.
QRect FromEdges(int left, int top, int right, int bottom) {
    return {left, top, right - left, bottom - top};
}

int BottomEdge(const QRect& r) {
    return r.y() + r.height();
}

QWidget* CreateControl(const ControlTemplate& t, QWidget* parent) {
    const QString text = QString::fromLatin1(t.text);
    switch (t.kind) {
    case Kind::List:
        return new QListWidget(parent); // set up by CScreenView
    case Kind::Static: {
        auto* label = new QLabel(text, parent);
        label->setAlignment(t.alignment);
        return label;
    }
    case Kind::Button: {
        auto* button = new QPushButton(text, parent);
        // No default button: Enter must not press anything.
        button->setAutoDefault(false);
        button->setDefault(false);
        return button;
    }
    }
    return nullptr;
}

} // namespace

CTerminalDlg::CTerminalDlg(QWidget* parent) : QDialog(parent, kWindowFlags) {
    setWindowTitle(QStringLiteral("Korvane Benchline Emulator"));
    // Run modally, yet modal only to its own parent, which it has none of: every other window
    // (the traffic monitor, History, whatever it opens) takes input while it runs. Application
    // modality would block every window that is not its child.
    setWindowModality(Qt::WindowModal);
    CPortWindows::Install();
    setFont(CScreenView::Font());
    CreateControls();
    resize(CDialogUnits(font()).Map(kTemplateSize));
    m_systemMenu = new CSystemMenu(this, m_list);
    connect(m_systemMenu, &CSystemMenu::ShareRequested, this, [this] { ShareDialog(); });
    connect(m_systemMenu, &CSystemMenu::FieldsRequested, this, [this] { FieldsDialog(); });
    m_comfort = new CComfort(*this, *m_systemMenu);
    setWindowIcon(CAppResources::Icon());

    // A network line's open may end after the handler that began it.
    m_port.SetOpenFinished([this] { UpdateButtons(); });
    if (const QString problem = m_station.Load(); !problem.isEmpty())
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("The line is not published: %1.").arg(problem));
    new CJournalNotices(this, m_station);
    m_comfort->Restore();
    UpdateButtons();
    m_history = new CHistoryDlg(m_station.JournalFolder(), m_port.SettingsPath(), this);
    m_history->SetFieldDefinitions(m_station.Fields().Definitions());
    connect(&m_station.Fields(), &CFieldsFeed::DefinitionsChanged, m_history,
            [this] { m_history->SetFieldDefinitions(m_station.Fields().Definitions()); });
    CLook::Instance().Follow(m_history);
    connect(m_systemMenu, &CSystemMenu::HistoryRequested, this, &CTerminalDlg::OnHistory);
    new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_H), this, this, &CTerminalDlg::OnHistory);
    m_timerId = startTimer(kRefreshMs);
    StartSharing();
}

// A closed port is never drained, for viewers as for the window.
void CTerminalDlg::StartSharing() {
    // Asked for and impossible (the port taken, a certificate that cannot serve): the Share
    // window opens beside this one, without taking its keys, and says why.
    if (!m_station.StartSharing())
        QTimer::singleShot(0, this, [this] {
            ShareWindow().setAttribute(Qt::WA_ShowWithoutActivating);
            ShareWindow().show();
        });
}

CShareDlg& CTerminalDlg::ShareWindow() {
    // A child window of this one, so that it stays usable while this window runs modally.
    if (!m_shareDlg)
        m_shareDlg = new CShareDlg(m_station, this);
    return *m_shareDlg;
}

CShareDlg& CTerminalDlg::ShareDialog() {
    CShareDlg& dialog = ShareWindow();
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    return dialog;
}

// A child window of this one, like the Share window.
CFieldsDlg& CTerminalDlg::FieldsDialog() {
    if (!m_fieldsDlg) {
        m_fieldsDlg = new CFieldsDlg(m_station, this);
        CLook::Instance().Follow(m_fieldsDlg);
    }
    m_fieldsDlg->Open();
    return *m_fieldsDlg;
}

// The Fields window lets go of the station's screen as it goes, so it goes before the station
// (children go after the window's members).
CTerminalDlg::~CTerminalDlg() {
    delete m_fieldsDlg;
}

void CTerminalDlg::CreateControls() {
    const CDialogUnits units(font());
    for (const ControlTemplate& t : kControls) {
        QWidget* control = CreateControl(t, this);
        control->setObjectName(QString::number(t.id));
        control->setGeometry(units.Map(t.rect));
        control->setEnabled(!t.initiallyDisabled);
    }
    m_closeButton = qobject_cast<QPushButton*>(Control(IDC_CLOSE));
    m_saveFileButton = qobject_cast<QPushButton*>(Control(IDC_SAVE_FILE));
    m_printButton = qobject_cast<QPushButton*>(Control(IDC_PRINT));
    m_monitorButton = qobject_cast<QPushButton*>(Control(IDC_MONITOR));
    m_copyButton = qobject_cast<QPushButton*>(Control(IDC_COPY));
    m_configPortButton = qobject_cast<QPushButton*>(Control(IDC_CONFIG_PORT));
    m_labelField = qobject_cast<QLabel*>(Control(IDC_LABEL));
    m_statusField = qobject_cast<QLabel*>(Control(IDC_STATUS));
    m_cursorField = qobject_cast<QLabel*>(Control(IDC_CURSOR));
    m_list = qobject_cast<QListWidget*>(Control(IDC_LIST));

    m_view = std::make_unique<CScreenView>(m_list, m_cursorField, m_statusField, m_labelField);

    connect(m_configPortButton, &QPushButton::clicked, this, &CTerminalDlg::OnConfigPort);
    connect(m_monitorButton, &QPushButton::clicked, this, &CTerminalDlg::OnMonitor);
    connect(m_closeButton, &QPushButton::clicked, this, &CTerminalDlg::OnClose);
    connect(m_copyButton, &QPushButton::clicked, this, &CTerminalDlg::OnCopy);
    connect(m_printButton, &QPushButton::clicked, this, &CTerminalDlg::OnPrint);
    connect(m_saveFileButton, &QPushButton::clicked, this, &CTerminalDlg::OnSaveFile);
}

QWidget* CTerminalDlg::Control(int id) const {
    return findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

void CTerminalDlg::UpdateButtons() {
    const bool open = m_port.IsOpen();
    for (QPushButton* button : {m_monitorButton, m_copyButton, m_printButton, m_saveFileButton})
        button->setEnabled(open);
}

void CTerminalDlg::accept() {}

void CTerminalDlg::OnConfigPort() {
    m_port.Reconfigure();
    UpdateButtons();
}

void CTerminalDlg::OnCopy() {
    CExportCommands::Copy(this, m_lines);
}

void CTerminalDlg::OnPrint() {
    CExportCommands::Print(this, m_lines, m_port.SettingsPath());
}

void CTerminalDlg::OnSaveFile() {
    CExportCommands::SaveFile(this, m_lines);
}

bool CTerminalDlg::WriteLines(const QString& path) {
    return CExportCommands::WriteLines(this, m_lines, path);
}

#ifdef Q_OS_WIN
bool CTerminalDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    return m_systemMenu->HandleNativeEvent(message) ||
           QDialog::nativeEvent(eventType, message, result);
}
#endif

void CTerminalDlg::OnMonitor() {
    m_port.ViewMonitor(1);
    CTnCommMonitor* monitor = CPortWindows::Instance().Monitor(m_port);
    if (!monitor)
        return;
    monitor->SetStatusHook([this] { return m_station.Share().ViewersLine(); });
    CLook::Instance().Follow(monitor);
}

void CTerminalDlg::OnHistory() {
    m_history->Open();
}

void CTerminalDlg::OnClose() {
    if (CloseWithSettings())
        done(QDialog::Accepted);
}

void CTerminalDlg::closeEvent(QCloseEvent* event) {
    if (!CloseWithSettings()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

// A failed store was already reported; the window then stays open and keeps refreshing.
bool CTerminalDlg::CloseWithSettings() {
    m_comfort->Store();
    if (!m_port.SaveSettings())
        return false;
    if (m_timerId != 0)
        killTimer(m_timerId);
    m_timerId = 0;
    return true;
}

void CTerminalDlg::timerEvent(QTimerEvent* event) {
    QDialog::timerEvent(event);
    RefreshDisplay(event->timerId());
}

void CTerminalDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayOut(event->size());
}

void CTerminalDlg::LayOut(QSize client) {
    const int cx = client.width();
    const int cy = client.height();
    if (cx < kMinLayoutSize.width() || cy < kMinLayoutSize.height())
        return;

    const QRect x = m_cursorField->geometry();
    for (QPushButton* button :
         {m_configPortButton, m_monitorButton, m_copyButton, m_printButton, m_saveFileButton}) {
        const QRect r = button->geometry();
        button->setGeometry(r.x(), cy - kEdgeGap - r.height(), r.width(), r.height());
    }
    const QSize closeSize = m_closeButton->size();
    const QRect close(cx - kEdgeGap - closeSize.width(), cy - kEdgeGap - closeSize.height(),
                      closeSize.width(), closeSize.height());
    m_closeButton->setGeometry(close);

    const int labelHeight = m_labelField->height();
    const int labelBottom = close.y() - kControlGap;
    const QRect label = FromEdges(x.x(), labelBottom - labelHeight, cx - kControlGap, labelBottom);
    m_labelField->setGeometry(label);

    m_list->setGeometry(
        FromEdges(x.x(), BottomEdge(x) + kControlGap, cx - kControlGap, label.y() - kControlGap));

    const int statusLeft = m_statusField->x();
    m_statusField->setGeometry(FromEdges(statusLeft, x.y(), cx - kControlGap, BottomEdge(x)));
    m_statusField->update();
}

// The layout's inverse: the client size that gives the list this size.
QSize CTerminalDlg::ClientForList(QSize list) const {
    const QRect x = m_cursorField->geometry();
    const int width = x.x() + list.width() + kControlGap;
    const int height = BottomEdge(x) + kControlGap + list.height() + kControlGap +
                       m_labelField->height() + kControlGap + m_closeButton->height() + kEdgeGap;
    return QSize(width, height).expandedTo(kMinLayoutSize);
}

void CTerminalDlg::RefreshDisplay(int timerId) {
    if (timerId != m_timerId || !m_port.IsOpen())
        return;
    m_port.ProcessReceived();

    m_lines = m_port.Rows();
    m_status = m_port.StatusText();
    m_label = m_port.LabelText();
    m_cursorRow = m_port.Row() + 1;
    m_cursorCol = m_port.Col() + 1;

    m_lines.resize(CScreenText::ShownRowCount(m_lines));
    m_view->Show(m_lines, m_status, m_label, m_cursorRow - 1, m_cursorCol - 1);
}
