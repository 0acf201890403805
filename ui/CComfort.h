#pragma once

#include <QObject>
#include <QRect>
#include <QSize>

class CSystemMenu;
class CTerminalDlg;
class CZoom;
class QAction;
class QFont;
class QListWidget;

// What makes the main window easier to work with for a whole game, beside its fixed template:
// text size, the look, fitting the window to all 132 columns, keys for the data buttons and
// accessible names. Its entries go into the window menu; the text size, the look and the
// window's placement are kept in the settings file as optional keys.
class CComfort : public QObject {
    Q_OBJECT

public:
    static const QString kTextSizeKey;
    static const QString kLookKey;

    CComfort(CTerminalDlg& dialog, CSystemMenu& menu);

    // Start-up, once the settings file has been read.
    void Restore();
    // Close, before the settings file is written. Only what the operator changed, or what the
    // file already held, is written.
    void Store();
    // Sizes the window so every column and row shows at the current text size within the
    // screen's available area; when they cannot, the text gets smaller until they do.
    void FitColumns();
    CZoom& Zoom() { return *m_zoom; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* AddAction(const QString& text, const QList<QKeySequence>& keys);
    QList<QAction*> CreateEntries();
    QAction* CreateLookMenu();
    void BindButtonKeys();
    void NameControls();
    void OnTextSizeChanged(int percent, int previous);
    // The list's outer size that shows the whole screen in font.
    QSize ListSizeFor(const QFont& font, int percent) const;
    void StoreOption(const QString& key, const QString& value, const QString& untouched);

    CTerminalDlg& m_dialog;
    QListWidget* m_list;
    CZoom* m_zoom;
    QRect m_shownGeometry; // as first shown, to tell whether the operator moved the window
};
