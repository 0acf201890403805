#pragma once

#include "CJournalIndex.h"

#include <QDate>
#include <QFutureWatcher>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CFieldDefinitions;
class CScreenView;
class CStoryView;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;

// The History window: the screen as it stood at any moment of a day's journal (the newest day,
// or any other the journal holds, chosen in its day list), shown as the main window shows it,
// with the moment's clock time. Steps to the previous or next moment a person saw (the screen
// settled; with Shift, the previous or next change), jumps to a typed time, finds and marks
// the next or previous appearance of a text, follows the
// journal's growing end ("Live"), and copies, prints or saves the moment's rows as the main
// window does. "Story" shows the game-flow chart instead of the screen; a click on it goes to
// that moment. The journal is indexed on a worker thread as soon as the window is made, so
// opening it later is quick; while the window is shown the index follows the journal every
// second, taking the records of the file being written from the journal, which has
// interpreted them already, rather than reading them back.
class CHistoryDlg : public QWidget {
    Q_OBJECT

public:
    enum ControlId {
        IDC_LIST = 1100,
        IDC_CURSOR,
        IDC_STATUS,
        IDC_LABEL,
        IDC_MOMENT,
        IDC_TIMELINE,
        IDC_PREVIOUS,
        IDC_NEXT,
        IDC_TIME,
        IDC_GO,
        IDC_LIVE,
        IDC_FIND_TEXT,
        IDC_FIND_PREVIOUS,
        IDC_FIND_NEXT,
        IDC_NOTE,
        IDC_COPY,
        IDC_PRINT,
        IDC_SAVE_FILE,
        IDC_CLOSE,
        IDC_DAY,
        IDC_STORY,
        IDC_STORY_VIEW,
    };
    static constexpr int kFollowMs = 1000;
    // What the journal may have gained while the window was hidden that is read at once when
    // it is shown (about a tenth of a second); beyond it, the journal is indexed again on the
    // worker thread, as at start, so the window never waits for it.
    static constexpr std::uint64_t kReadOnShow = 16 * 1024 * 1024;

    // journalFolder: where the journal files are; settingsPath: the settings file, next to
    // which Print writes its file. parent: the window this one belongs to, so that it stays
    // usable while that window runs modally.
    CHistoryDlg(const QString& journalFolder, const QString& settingsPath, QWidget* parent);
    // Keeps the index of the newest file beside it, so the next start need not read it again.
    ~CHistoryDlg() override;

    // Shows the window in front.
    void Open();
    // False until the first index of the journal is ready.
    bool Indexed() const { return m_index != nullptr; }

    QWidget* Control(int id) const;
    // The rows of the moment shown, trailing blank rows dropped: what Copy, Print and Save File
    // hand on.
    const std::vector<std::string>& Lines() const { return m_lines; }
    std::optional<std::uint64_t> Record() const { return m_record; }

    // The day whose journal the window shows.
    QDate Day() const { return m_day; }
    // Shows another day's journal, from its last moment; the newest day is followed as it grows.
    void ShowDay(const QDate& day);

    enum class Step { Moment, Change };

    void ShowRecord(std::uint64_t record);
    // Steps by moments the screen settled at (CJournalIndex's), or by single changes.
    void StepBy(int steps, Step by = Step::Moment);
    // "HH:MM:SS" on the journal's day; false (and a note) when the text is not such a time.
    bool JumpTo(const QString& clock);
    void Find(bool forward);
    void SetLive(bool live);
    // The fields whose story the "Story" view tells.
    void SetFieldDefinitions(const CFieldDefinitions& definitions);
    // The game-flow chart in place of the screen, or the screen again.
    void ShowStory(bool shown);

private:
    void CreateControls();
    QPushButton* AddButton(int id, const QString& text);
    void StartIndexing();
    void FillDays();
    void OnIndexed();
    void Follow();
    // True when the index gained records; `last`, when the journal gave it, the screen after
    // the last of them.
    bool UpdateIndex(std::unique_ptr<CTerminalScreen>& last);
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void ShowMoment(CJournalIndex::Moment moment);
    void UpdateTimeline();
    void UpdateButtons();
    void SetNote(const QString& text);
    void OnTimeline(int action);
    void MarkFound(const std::string& text);
    static QString ClockText(CJournalIndex::Time time);

    QString m_journalFolder;
    QString m_settingsPath;
    QDate m_day;                            // the day whose files the index covers
    bool m_newestDay = true;                // a new day is shown once it begins
    std::shared_ptr<CJournalIndex> m_index; // shared with the worker only while it builds it
    QFutureWatcher<std::shared_ptr<CJournalIndex>> m_indexing;
    QTimer m_follow; // runs while the window is shown
    const std::shared_ptr<CJournalLiveFeed> m_feed;
    bool m_live = true;
    std::optional<std::uint64_t> m_record;
    std::vector<std::string> m_lines;

    QComboBox* m_dayList = nullptr;
    QListWidget* m_list = nullptr;
    QLabel* m_moment = nullptr;
    QLabel* m_note = nullptr;
    QSlider* m_timeline = nullptr;
    QLineEdit* m_time = nullptr;
    QLineEdit* m_findText = nullptr;
    QPushButton* m_liveButton = nullptr;
    std::unique_ptr<CScreenView> m_view;
    CStoryView* m_story = nullptr;
    QPushButton* m_storyButton = nullptr;
};
