#include "CTerminalDlg.h"

#include "CAppResources.h"
#include "CDialogUnits.h"
#include "CExportText.h"
#include "CExtentDelegate.h"
#include "CScreenText.h"
#include "CSystemMenu.h"
#include "CTextPrinter.h"
#include "DisplayText.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QResizeEvent>
#include <QTimerEvent>
#include <algorithm>
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

// Room added to the widest row so the last column never sits at the very edge.
constexpr int kExtentMargin = 100;
// Space between the controls and the client edges once the window has grown.
constexpr int kEdgeGap = 4;
constexpr int kControlGap = 10;

QFont DialogFont() {
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSize(9);
    return font;
}

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
    case Kind::List: {
        auto* list = new QListWidget(parent);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
        list->setTextElideMode(Qt::ElideNone);
        list->setUniformItemSizes(true);
        return list;
    }
    case Kind::Static: {
        auto* label = new QLabel(text, parent);
        // Line data is never markup.
        label->setTextFormat(Qt::PlainText);
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
    setFont(DialogFont());
    CreateControls();
    resize(CDialogUnits(font()).Map(kTemplateSize));
    m_systemMenu = new CSystemMenu(this, m_list);
    setWindowIcon(CAppResources::Icon());

    m_port.LoadSettings();
    UpdateButtons();
    m_timerId = startTimer(kRefreshMs);
}

CTerminalDlg::~CTerminalDlg() = default;

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

    m_extentDelegate = new CExtentDelegate(m_list);
    m_list->setItemDelegate(m_extentDelegate);

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

// Latin-1 keeps every 8-bit byte of the rows as one character of the clipboard text.
void CTerminalDlg::OnCopy() {
    const std::string bytes = CExportText::ClipboardText(m_lines);
    const QString text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(text);
    if (clipboard->text() != text)
        QMessageBox::warning(this, QStringLiteral("Tallyview"),
                             QStringLiteral("Unable to set Clipboard data"));
}

void CTerminalDlg::OnPrint() {
    const QString path = QFileInfo(m_port.SettingsPath()).dir().filePath(QLatin1String(kPrintFile));
    if (WriteLines(path))
        CTextPrinter().PrintToDefault(path);
}

void CTerminalDlg::OnSaveFile() {
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QStringLiteral("TXT Files (*.txt)"));
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        WriteLines(dialog.selectedFiles().constFirst());
}

bool CTerminalDlg::WriteLines(const QString& path) {
    const std::string text = CExportText::FileText(m_lines);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(text.data(), static_cast<qint64>(text.size()));
        file.close();
        if (file.error() == QFileDevice::NoError)
            return true;
    }
    QMessageBox::warning(this, QStringLiteral("Tallyview"),
                         QStringLiteral("The lines could not be written to %1: %2.")
                             .arg(QDir::toNativeSeparators(path), file.errorString()));
    return false;
}

#ifdef Q_OS_WIN
bool CTerminalDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    return m_systemMenu->HandleNativeEvent(message) ||
           QDialog::nativeEvent(eventType, message, result);
}
#endif

void CTerminalDlg::OnMonitor() {
    m_port.ViewMonitor(1);
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

void CTerminalDlg::RefreshDisplay(int timerId) {
    if (timerId != m_timerId || !m_port.IsOpen())
        return;
    m_port.ProcessReceived();

    m_lines = m_port.Rows();
    m_status = m_port.StatusText();
    m_label = m_port.LabelText();
    m_cursorRow = m_port.Row() + 1;
    m_cursorCol = m_port.Col() + 1;

    const int selection = SelectedRow();
    m_lines.resize(CScreenText::ShownRowCount(m_lines));
    ShowRows(selection);

    m_statusField->setText(DisplayText(CScreenText::UpToNul(m_status)));
    m_labelField->setText(DisplayText(CScreenText::UpToNul(m_label)));
    m_cursorField->setText(
        QString::fromStdString(CScreenText::CursorText(m_cursorRow - 1, m_cursorCol - 1)));
}

int CTerminalDlg::SelectedRow() const {
    const QModelIndexList selected = m_list->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.front().row();
}

// Updates the list in place, so only rows that changed are repainted and the selection and
// scroll position stay where the operator left them.
void CTerminalDlg::ShowRows(int selection) {
    const QFontMetrics metrics(m_list->font());
    const int rows = static_cast<int>(m_lines.size());
    int widest = 0;
    for (int i = 0; i < rows; ++i) {
        const QString text = DisplayText(CScreenText::UpToNul(m_lines[i]));
        if (QListWidgetItem* item = m_list->item(i)) {
            if (item->text() != text)
                item->setText(text);
        } else {
            m_list->addItem(text);
        }
        widest =
            std::max(widest, metrics.horizontalAdvance(DisplayText(m_lines[i])) + kExtentMargin);
    }
    // What the screen no longer holds is not shown either.
    while (m_list->count() > rows)
        delete m_list->takeItem(m_list->count() - 1);

    if (m_extentDelegate->Extent() < widest)
        m_extentDelegate->SetExtent(widest);
    if (selection >= 0 && selection < m_list->count())
        m_list->setCurrentRow(selection);
}
