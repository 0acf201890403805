#include "CHistoryDlg.h"

#include "CExportCommands.h"
#include "CScreenText.h"
#include "CScreenView.h"
#include "CStoryView.h"
#include "DisplayText.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>
#include <QTime>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace {

constexpr Qt::WindowFlags kWindowFlags = Qt::Window | Qt::WindowTitleHint |
                                         Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                                         Qt::WindowCloseButtonHint;

std::int64_t Millis(CJournalIndex::Time time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

// The day of the newest journal file, or today when there is none yet.
QDate JournalDay(const QString& folder) {
    const QDate day = QDate::fromString(
        QString::fromStdString(CJournalIndex::NewestDay(folder.toStdString())), Qt::ISODate);
    return day.isValid() ? day : QDate::currentDate();
}

} // namespace

CHistoryDlg::CHistoryDlg(const QString& journalFolder, const QString& settingsPath, QWidget* parent)
    : QWidget(parent, kWindowFlags), m_journalFolder(journalFolder), m_settingsPath(settingsPath),
      m_feed(CJournalLiveFeed::Of(QFile::encodeName(journalFolder).toStdString())) {
    setWindowTitle(QStringLiteral("Tallyview History"));
    setFont(CScreenView::Font());
    CreateControls();
    connect(&m_indexing, &QFutureWatcherBase::finished, this, &CHistoryDlg::OnIndexed);
    connect(&m_follow, &QTimer::timeout, this, &CHistoryDlg::Follow);
    m_day = JournalDay(m_journalFolder);
    FillDays();
    StartIndexing();
    UpdateButtons();
}

CHistoryDlg::~CHistoryDlg() {
    m_feed->Want(false);
    if (m_index)
        m_index->Persist();
}

QWidget* CHistoryDlg::Control(int id) const {
    return findChild<QWidget*>(QString::number(id));
}

QPushButton* CHistoryDlg::AddButton(int id, const QString& text) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(QString::number(id));
    button->setAutoDefault(false);
    return button;
}

void CHistoryDlg::CreateControls() {
    const auto named = [](QWidget* widget, int id) {
        widget->setObjectName(QString::number(id));
        return widget;
    };
    auto* cursor = new QLabel(QStringLiteral("x-y"), this);
    auto* status = new QLabel(this);
    status->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* label = new QLabel(this);
    label->setAlignment(Qt::AlignCenter);
    m_moment = new QLabel(this);
    m_moment->setAlignment(Qt::AlignCenter);
    m_list = new QListWidget(this);
    m_view = std::make_unique<CScreenView>(m_list, cursor, status, label);
    m_timeline = new QSlider(Qt::Horizontal, this);
    m_time = new QLineEdit(this);
    m_time->setPlaceholderText(QStringLiteral("HH:MM:SS"));
    m_time->setMaxLength(8);
    m_findText = new QLineEdit(this);
    m_findText->setPlaceholderText(QStringLiteral("Find text"));
    m_note = new QLabel(this);
    m_note->setTextFormat(Qt::PlainText);
    m_dayList = new QComboBox(this);
    m_dayList->setToolTip(QStringLiteral("The day of the journal shown"));
    for (auto [widget, id] : {std::pair<QWidget*, int>{cursor, IDC_CURSOR},
                              {status, IDC_STATUS},
                              {label, IDC_LABEL},
                              {m_moment, IDC_MOMENT},
                              {m_list, IDC_LIST},
                              {m_timeline, IDC_TIMELINE},
                              {m_time, IDC_TIME},
                              {m_findText, IDC_FIND_TEXT},
                              {m_dayList, IDC_DAY},
                              {m_note, IDC_NOTE}})
        named(widget, id);

    QPushButton* previous = AddButton(IDC_PREVIOUS, QStringLiteral("< Previous"));
    QPushButton* next = AddButton(IDC_NEXT, QStringLiteral("Next >"));
    QPushButton* go = AddButton(IDC_GO, QStringLiteral("Go"));
    m_liveButton = AddButton(IDC_LIVE, QStringLiteral("Live"));
    m_liveButton->setCheckable(true);
    QPushButton* findPrevious = AddButton(IDC_FIND_PREVIOUS, QStringLiteral("Find Previous"));
    QPushButton* findNext = AddButton(IDC_FIND_NEXT, QStringLiteral("Find Next"));
    QPushButton* copy = AddButton(IDC_COPY, QStringLiteral("Copy"));
    QPushButton* print = AddButton(IDC_PRINT, QStringLiteral("Print"));
    QPushButton* saveFile = AddButton(IDC_SAVE_FILE, QStringLiteral("Save File"));
    QPushButton* close = AddButton(IDC_CLOSE, QStringLiteral("Close"));

    auto* top = new QHBoxLayout;
    top->addWidget(cursor, 1);
    top->addWidget(m_moment, 2);
    top->addWidget(status, 2);
    auto* navigation = new QHBoxLayout;
    for (QWidget* widget : {static_cast<QWidget*>(m_dayList), static_cast<QWidget*>(previous),
                            static_cast<QWidget*>(next), static_cast<QWidget*>(m_time),
                            static_cast<QWidget*>(go), static_cast<QWidget*>(m_liveButton)})
        navigation->addWidget(widget);
    navigation->addSpacing(20);
    navigation->addWidget(m_findText, 1);
    navigation->addWidget(findPrevious);
    navigation->addWidget(findNext);
    m_story = new CStoryView(this);
    named(m_story, IDC_STORY_VIEW);
    m_story->hide();
    m_storyButton = AddButton(IDC_STORY, QStringLiteral("Story"));
    m_storyButton->setCheckable(true);
    connect(m_storyButton, &QPushButton::clicked, this, &CHistoryDlg::ShowStory);
    connect(m_story, &CStoryView::MomentChosen, this, [this](std::uint64_t record) {
        ShowStory(false);
        SetLive(false);
        ShowRecord(record);
    });
    auto* commands = new QHBoxLayout;
    for (QPushButton* button : {copy, print, saveFile, m_storyButton})
        commands->addWidget(button);
    commands->addWidget(m_note, 1);
    commands->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_story, 1);
    layout->addWidget(label);
    layout->addWidget(m_timeline);
    layout->addLayout(navigation);
    layout->addLayout(commands);
    resize(m_list->fontMetrics().horizontalAdvance(QString(CTerminalScreen::kCols + 8, 'M')),
           m_list->fontMetrics().height() * 40);

    // Shift held on the click (or on Space at the focused button) steps one change.
    const auto by = [] {
        return QApplication::keyboardModifiers() & Qt::ShiftModifier ? Step::Change : Step::Moment;
    };
    connect(previous, &QPushButton::clicked, this, [this, by] { StepBy(-1, by()); });
    connect(next, &QPushButton::clicked, this, [this, by] { StepBy(1, by()); });
    connect(go, &QPushButton::clicked, this, [this] { JumpTo(m_time->text()); });
    connect(m_time, &QLineEdit::returnPressed, this, [this] { JumpTo(m_time->text()); });
    connect(m_liveButton, &QPushButton::clicked, this, &CHistoryDlg::SetLive);
    connect(findPrevious, &QPushButton::clicked, this, [this] { Find(false); });
    connect(findNext, &QPushButton::clicked, this, [this] { Find(true); });
    connect(m_findText, &QLineEdit::returnPressed, this, [this] { Find(true); });
    connect(m_findText, &QLineEdit::textChanged, this, [this] { m_view->ClearMark(); });
    connect(m_timeline, &QSlider::actionTriggered, this, &CHistoryDlg::OnTimeline);
    connect(m_dayList, &QComboBox::activated, this,
            [this] { ShowDay(QDate::fromString(m_dayList->currentText(), Qt::ISODate)); });
    connect(copy, &QPushButton::clicked, this, [this] { CExportCommands::Copy(this, m_lines); });
    connect(print, &QPushButton::clicked, this,
            [this] { CExportCommands::Print(this, m_lines, m_settingsPath); });
    connect(saveFile, &QPushButton::clicked, this,
            [this] { CExportCommands::SaveFile(this, m_lines); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    new QShortcut(QKeySequence(Qt::Key_Escape), this, this, &QWidget::close);
}

void CHistoryDlg::Open() {
    if (m_live)
        SetLive(true); // hidden, it did not follow
    show();
    raise();
    activateWindow();
}

// The days the journal holds, newest first, with the day shown selected.
void CHistoryDlg::FillDays() {
    QStringList days;
    for (const std::string& day : CJournalIndex::Days(m_journalFolder.toStdString()))
        days.prepend(QString::fromStdString(day));
    const QString shown = m_day.toString(Qt::ISODate);
    if (!days.contains(shown))
        days.prepend(shown); // today, before its first file
    QStringList listed;
    for (int i = 0; i < m_dayList->count(); ++i)
        listed << m_dayList->itemText(i);
    if (listed != days) {
        m_dayList->clear();
        m_dayList->addItems(days);
    }
    m_dayList->setCurrentText(shown);
}

void CHistoryDlg::ShowDay(const QDate& day) {
    if (!day.isValid())
        return;
    m_follow.stop();
    m_feed->Restart(); // it fed the index that goes
    if (m_index)
        m_index->Persist();
    m_index.reset();
    m_record.reset();
    m_day = day;
    m_newestDay = day == JournalDay(m_journalFolder);
    FillDays();
    StartIndexing();
    UpdateButtons();
}

void CHistoryDlg::StartIndexing() {
    const std::string folder = m_journalFolder.toStdString();
    const std::string prefix = m_day.toString(Qt::ISODate).toStdString() + '_';
    SetNote(QStringLiteral("Reading the journal..."));
    m_indexing.setFuture(QtConcurrent::run([folder, prefix] {
        auto index = std::make_shared<CJournalIndex>(folder, prefix);
        index->Update();
        return index;
    }));
}

void CHistoryDlg::OnIndexed() {
    m_index = m_indexing.result();
    SetNote(QString());
    if (isVisible())
        m_follow.start(kFollowMs);
    if (m_live || !m_record)
        SetLive(true);
    UpdateButtons();
}

// The timer's work: the index takes in what the journal gained, and a new day starts a new
// index unless another day is shown.
void CHistoryDlg::Follow() {
    if (const QDate newest = JournalDay(m_journalFolder); m_newestDay && newest != m_day) {
        ShowDay(newest);
        return;
    }
    FillDays();
    std::unique_ptr<CTerminalScreen> last;
    const bool grew = UpdateIndex(last);
    if (grew && m_live && last)
        ShowMoment({m_index->RecordCount() - 1, *m_index->LastTime(), std::move(last)});
    else if (grew && m_live)
        ShowRecord(m_index->RecordCount() - 1);
    if (m_story->isVisible())
        m_story->Update(*m_index);
    UpdateTimeline();
    UpdateButtons();
}

void CHistoryDlg::SetFieldDefinitions(const CFieldDefinitions& definitions) {
    m_story->SetDefinitions(definitions);
    if (m_story->isVisible() && m_index)
        m_story->Update(*m_index);
}

void CHistoryDlg::ShowStory(bool shown) {
    m_storyButton->setChecked(shown);
    m_list->setVisible(!shown);
    m_story->setVisible(shown);
    if (shown && m_index)
        m_story->Update(*m_index);
}

// Only the newest day's last file grows, and only the journal feeds it.
bool CHistoryDlg::UpdateIndex(std::unique_ptr<CTerminalScreen>& last) {
    if (!m_newestDay) {
        m_feed->Want(false);
        return m_index->Update();
    }
    m_feed->Want(true);
    CJournalLiveFeed::Taken taken = m_feed->Take();
    bool inStep = true;
    const bool changed = m_index->Update(taken, inStep);
    if (inStep)
        last = std::move(taken.m_screen);
    else
        m_feed->Restart();
    return changed;
}

// Hidden, the window neither reads the journal nor has it fed.
void CHistoryDlg::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_index || m_follow.isActive() || m_indexing.isRunning())
        return;
    if (m_index->UnreadBytes() > kReadOnShow) {
        StartIndexing();
        return;
    }
    m_follow.start(kFollowMs);
    Follow();
}

void CHistoryDlg::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_follow.stop();
    m_feed->Want(false);
}

void CHistoryDlg::SetLive(bool live) {
    m_live = live;
    m_liveButton->setChecked(live);
    if (live && m_index && m_index->RecordCount() > 0)
        ShowRecord(m_index->RecordCount() - 1);
    UpdateButtons();
}

void CHistoryDlg::ShowRecord(std::uint64_t record) {
    if (!m_index)
        return;
    if (std::optional<CJournalIndex::Moment> moment = m_index->At(record))
        ShowMoment(std::move(*moment));
    else
        SetNote(QStringLiteral("The journal can no longer be read."));
}

void CHistoryDlg::ShowMoment(CJournalIndex::Moment moment) {
    const CTerminalScreen& screen = *moment.m_screen;
    m_record = moment.m_record;
    m_lines = screen.Rows();
    m_lines.resize(CScreenText::ShownRowCount(m_lines));
    m_view->Show(m_lines, screen.StatusText(), screen.LabelText(), screen.Row(), screen.Col());
    m_moment->setText(QStringLiteral("%1   change %2 of %3")
                          .arg(ClockText(moment.m_time))
                          .arg(moment.m_record + 1)
                          .arg(m_index->RecordCount()));
    UpdateTimeline(); // the range first, so the value is not cut to an older end
    m_timeline->setValue(
        static_cast<int>((Millis(moment.m_time) - Millis(*m_index->FirstTime())) / 1000));
    UpdateButtons();
}

void CHistoryDlg::UpdateTimeline() {
    if (!m_index || !m_index->FirstTime())
        return;
    const auto seconds = (Millis(*m_index->LastTime()) - Millis(*m_index->FirstTime())) / 1000;
    m_timeline->setMaximum(static_cast<int>(seconds));
    if (const std::vector<std::string> notes = m_index->Notes();
        !notes.empty() && m_note->text().isEmpty())
        SetNote(QString::fromStdString(notes.back()));
}

void CHistoryDlg::UpdateButtons() {
    const std::uint64_t count = m_index ? m_index->RecordCount() : 0;
    const bool shown = m_record.has_value();
    const auto enable = [this](int id, bool on) { Control(id)->setEnabled(on); };
    enable(IDC_PREVIOUS, shown && *m_record > 0);
    enable(IDC_NEXT, shown && *m_record + 1 < count);
    for (int id : {IDC_TIME, IDC_GO, IDC_LIVE, IDC_TIMELINE, IDC_FIND_TEXT, IDC_FIND_PREVIOUS,
                   IDC_FIND_NEXT})
        enable(id, count > 0);
    for (int id : {IDC_COPY, IDC_PRINT, IDC_SAVE_FILE})
        enable(id, shown);
    if (m_index && count == 0)
        m_moment->setText(QStringLiteral("No journal for %1").arg(m_day.toString(Qt::ISODate)));
}

void CHistoryDlg::SetNote(const QString& text) {
    m_note->setText(text);
}

void CHistoryDlg::StepBy(int steps, Step by) {
    if (!m_record || !m_index)
        return;
    SetLive(false);
    if (by == Step::Moment) {
        ShowRecord(m_index->MomentFrom(*m_record, steps));
        return;
    }
    const std::int64_t target = static_cast<std::int64_t>(*m_record) + steps;
    if (target >= 0 && static_cast<std::uint64_t>(target) < m_index->RecordCount())
        ShowRecord(static_cast<std::uint64_t>(target));
}

bool CHistoryDlg::JumpTo(const QString& clock) {
    const QTime time = QTime::fromString(clock.trimmed(), QStringLiteral("HH:mm:ss"));
    if (!time.isValid() || !m_index) {
        SetNote(QStringLiteral("Type the time as HH:MM:SS."));
        return false;
    }
    SetLive(false);
    const std::int64_t millis = QDateTime(m_day, time).toMSecsSinceEpoch();
    const CJournalIndex::Time at{std::chrono::milliseconds(millis)};
    if (const std::optional<std::uint64_t> record = m_index->RecordAt(at)) {
        SetNote(QString());
        ShowRecord(*record);
    }
    return true;
}

void CHistoryDlg::OnTimeline(int) {
    if (!m_index || !m_index->FirstTime())
        return;
    SetLive(false);
    const auto at = *m_index->FirstTime() + std::chrono::seconds(m_timeline->sliderPosition());
    if (const std::optional<std::uint64_t> record = m_index->RecordAt(at))
        ShowRecord(*record);
}

void CHistoryDlg::Find(bool forward) {
    const QString text = m_findText->text();
    if (!m_index || !m_record || text.isEmpty())
        return;
    const std::optional<std::string> bytes = DisplayBytes(text);
    std::optional<std::uint64_t> found;
    if (bytes) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        found = m_index->Find(*bytes, *m_record, forward);
        QApplication::restoreOverrideCursor();
    }
    if (!found) {
        SetNote(QStringLiteral("\"%1\" does not appear %2 this moment.")
                    .arg(text, forward ? QStringLiteral("after") : QStringLiteral("before")));
        return;
    }
    SetLive(false);
    SetNote(QString());
    ShowRecord(*found);
    MarkFound(*bytes);
}

// The text where it appeared: the screen did not show it just before, so wherever it shows
// now is new; the first place in reading order is marked.
void CHistoryDlg::MarkFound(const std::string& text) {
    if (const std::optional<CJournalIndex::Place> place = CJournalIndex::PlaceOf(m_lines, text))
        m_view->Mark(place->m_row, place->m_col, static_cast<int>(text.size()));
}

QString CHistoryDlg::ClockText(CJournalIndex::Time time) {
    return QDateTime::fromMSecsSinceEpoch(Millis(time))
        .time()
        .toString(QStringLiteral("HH:mm:ss.zzz"));
}
