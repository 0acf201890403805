#pragma once

#include "CStation.h"
#include "CTerminalPort.h"

#include <QDialog>
#include <QSize>
#include <memory>
#include <string>
#include <vector>

class CComfort;
class CFieldsDlg;
class CHistoryDlg;
class CScreenView;
class CShareDlg;
class CShareServer;
class CSystemMenu;
class QLabel;
class QListWidget;
class QPushButton;

// The main window: the live port with its emulated screen, the list that shows the screen
// rows, the cursor, status and label fields and the command buttons. It refreshes itself from
// the port every two seconds and lays its controls out again when it grows.
class CTerminalDlg : public QDialog {
    Q_OBJECT

public:
    enum ControlId {
        IDC_LIST = 1000,
        IDC_CURSOR = 1001,
        IDC_STATUS = 1002,
        IDC_CONFIG_PORT = 1003,
        IDC_MONITOR = 1004,
        IDC_LABEL = 1005,
        IDC_COPY = 1006,
        IDC_PRINT = 1007,
        IDC_SAVE_FILE = 1008,
        IDC_CLOSE = 1009,
    };
    static constexpr int kRefreshMs = 2000;
    // Below this client size the controls keep their last positions.
    static constexpr QSize kMinLayoutSize{739, 544};

    explicit CTerminalDlg(QWidget* parent = nullptr);
    ~CTerminalDlg() override;

    // The data buttons follow the port's open state.
    void UpdateButtons();
    // The refresh timer's handler: drains the port and shows the screen.
    void RefreshDisplay(int timerId);
    // Writes the rows as last shown to a text file (CR LF line ends). A file that cannot be
    // created or written is reported; what was written stays.
    bool WriteLines(const QString& path);

    // The client size at which the layout gives the list this outer size.
    QSize ClientForList(QSize list) const;

    QWidget* Control(int id) const;
    CHistoryDlg& History() { return *m_history; }
    CComfort& Comfort() { return *m_comfort; }
    CTerminalPort& Port() { return m_port; }
    CShareServer& Share() { return m_station.Share(); }
    CStation& Station() { return m_station; }
    // The sharing window, opened from the window menu; made when first asked for.
    CShareDlg& ShareDialog();
    // The Fields window, opened from the window menu; made when first asked for.
    CFieldsDlg& FieldsDialog();
    const std::vector<std::string>& Lines() const { return m_lines; }
    int TimerId() const { return m_timerId; }

public slots:
    // The Enter key's command: deliberately nothing, so Enter never closes the window.
    void accept() override;

protected:
    void timerEvent(QTimerEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif

private:
    void CreateControls();
    void OnConfigPort();
    void OnMonitor();
    void StartSharing();
    CShareDlg& ShareWindow();
    void OnHistory();
    void OnClose();
    void OnCopy();
    void OnPrint();
    void OnSaveFile();
    bool CloseWithSettings();
    void LayOut(QSize client);

    QPushButton* m_closeButton = nullptr;
    QPushButton* m_saveFileButton = nullptr;
    QPushButton* m_printButton = nullptr;
    QPushButton* m_monitorButton = nullptr;
    QPushButton* m_copyButton = nullptr;
    QPushButton* m_configPortButton = nullptr;
    QLabel* m_labelField = nullptr;
    QLabel* m_statusField = nullptr;
    QLabel* m_cursorField = nullptr;
    QListWidget* m_list = nullptr;
    CStation m_station;
    CTerminalPort& m_port = m_station.Port();
    CShareDlg* m_shareDlg = nullptr;
    CFieldsDlg* m_fieldsDlg = nullptr;
    int m_timerId = 0;
    std::vector<std::string> m_lines;
    std::string m_status;
    std::string m_label;
    int m_cursorRow = 0; // 1-based, as last shown
    int m_cursorCol = 0;
    std::unique_ptr<CScreenView> m_view;
    CSystemMenu* m_systemMenu = nullptr;
    CHistoryDlg* m_history = nullptr; // a window of its own, made at start so it opens quickly
    CComfort* m_comfort = nullptr;    // text size, look, placement, keys
};
