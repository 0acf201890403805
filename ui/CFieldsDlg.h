#pragma once

#include "CFieldDefinitions.h"
#include "CPacedAction.h"

#include <QRect>
#include <QString>
#include <QWidget>
#include <initializer_list>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

class CFieldAddresses;
class CFieldList;
class CFieldOverlay;
class CFieldsFeed;
class CScreenView;
class CStation;
class CTerminalPort;
class QBoxLayout;
class QLabel;
class QLayout;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

// The Fields window: the live screen as the main window shows it, with the defined fields and
// tables drawn over it. The operator drags a rectangle and types a name to make a field, or
// drags a block of rows and clicks where its columns break to make a table; selects one (in the
// list or on the screen) to rename it, drag it elsewhere or delete it. Every change is stored in
// the definitions file at once and handed to the line's outputs; the list beside the screen
// shows every value as it stands. A field or table can be bound to its page: the text that
// names the page, dragged over on the screen, must show for it to be read. The folder of text
// files is chosen here too. Modeless, beside the main window.
class CFieldsDlg : public QWidget {
    Q_OBJECT

public:
    // parent: the main window, so that this one stays usable while that one runs modally.
    CFieldsDlg(CStation& station, QWidget* parent);
    ~CFieldsDlg() override;

    // Shows the window in front.
    void Open();
    // Shows the screen and the values as they stand (on each announced change of the screen).
    void Refresh();

    // What the outputs take, as stored.
    const CFieldDefinitions& Definitions() const;
    // The file the definitions are stored in.
    const QString& Path() const { return m_path; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void CreateControls();
    QWidget* CreateScreen();
    QLayout* CreateEditing();
    QLayout* CreatePages();
    QLayout* CreateFolder();
    QPushButton* AddButton(const QString& text, const QString& name);
    using Handler = void (CFieldsDlg::*)();
    void AddButtons(QBoxLayout* layout,
                    std::initializer_list<std::tuple<const char*, const char*, Handler>> buttons);
    void Load();
    void StopWatching();
    void ShowInstructions();
    void ShowDefinitions();
    void DrawShapes();
    void SetMessage(const QString& text);

    void OnMarked(const QRect& cells);
    void OnClicked(const QPoint& cell);
    void OnMoveAsked(const QPoint& offset);
    void OnSelectionChanged();
    void OnEnter();
    void OnAdd();
    void OnRename();
    void OnLabel();
    void OnDelete();
    void SetBreaks(std::vector<int> breaks);

    using When = std::optional<CFieldDefinitions::When>;
    void OnPickPage();
    void StopPicking();
    void OnAnyPage();
    void OnOffer();
    // Binds the field or table to the page: it is read only while `when` shows (always: none).
    bool SetWhen(const QString& name, const When& when);
    // After name was made over cells: its page's heading offered as its page, in one click.
    void Offer(const QString& name, const QRect& cells);
    // The text on the first row of cells that is not blank, without the spaces around it, and
    // where it stands.
    When TextAt(const QRect& cells) const;
    // The run of text (words a single space apart) over the cell, where it stands; none over
    // a gap.
    When RunAt(const QPoint& cell) const;
    // What names the page shown: the first run of text (words a single space apart) on its
    // first row that is not blank; none when that is blank or lies in `made`.
    When Heading(const QRect& made) const;

    void OnChooseFolder();
    void OnFolderOff();
    void ChangeFolder(const QString& folder);
    void ShowFolder();

    // Stores candidate and makes it the definitions; false (and the reason shown) when it
    // breaks a rule or cannot be stored, which leaves everything as it was.
    bool Commit(const CFieldDefinitions& candidate, const QString& done);
    // The name of the smallest field or table over the cell; empty over none.
    QString NameAt(const QPoint& cell) const;
    QStringList ColumnNames() const;

    CStation& m_station;
    CTerminalPort& m_port;
    CFieldsFeed& m_feed;
    QString m_path;
    std::optional<QRect> m_marked; // cells dragged and not yet made a field or table
    std::vector<int> m_breaks;     // columns clicked in the marked block
    bool m_picking = false;        // the next drag reads the selected one's page text
    bool m_fileRefused = false;    // the file could not be used when the window read it
    QString m_offeredFor;          // the one just made, with its page's heading offered
    When m_offered;
    CPacedAction m_refresh; // the screen shown again on its changes, at most once a tick
    int m_reader = -1;      // of the screen's changes, while shown

    QListWidget* m_list = nullptr;
    std::unique_ptr<CScreenView> m_view;
    CFieldOverlay* m_overlay = nullptr;
    CFieldList* m_fields = nullptr;
    QRadioButton* m_makeField = nullptr;
    QRadioButton* m_makeTable = nullptr;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_columns = nullptr;
    QLineEdit* m_label = nullptr;
    QLabel* m_message = nullptr;
    QPushButton* m_offer = nullptr;
    QLabel* m_folder = nullptr;
    CFieldAddresses* m_addresses = nullptr;
};
