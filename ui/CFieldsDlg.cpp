#include "CFieldsDlg.h"

#include "CFieldAddresses.h"
#include "CFieldList.h"
#include "CFieldOverlay.h"
#include "CFieldValues.h"
#include "CFieldsFeed.h"
#include "CScreenChanges.h"
#include "CScreenView.h"
#include "CStation.h"
#include "CTerminalPort.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr Qt::WindowFlags kWindowFlags = Qt::Window | Qt::WindowTitleHint |
                                         Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                                         Qt::WindowCloseButtonHint;

QRect FieldCells(const CFieldDefinitions::Field& field) {
    return {field.m_column - 1, field.m_row - 1, field.m_width, field.m_height};
}

QRect TableCells(const CFieldDefinitions::Table& table) {
    int left = CTerminalScreen::kCols;
    int right = 0;
    for (const CFieldDefinitions::Column& column : table.m_columns) {
        left = std::min(left, column.m_column - 1);
        right = std::max(right, column.m_column - 1 + column.m_width);
    }
    return {left, table.m_firstRow - 1, std::max(right - left, 1),
            table.m_lastRow - table.m_firstRow + 1};
}

std::optional<QRect> PageCells(const std::optional<CFieldDefinitions::When>& when) {
    if (!when)
        return std::nullopt;
    return QRect(when->m_column - 1, when->m_row - 1, int(when->m_text.size()), 1);
}

std::vector<CFieldOverlay::Shape> Shapes(const CFieldDefinitions& definitions) {
    std::vector<CFieldOverlay::Shape> shapes;
    for (const CFieldDefinitions::Field& field : definitions.m_fields)
        shapes.push_back({FieldCells(field), {}, field.m_name, PageCells(field.m_when)});
    for (const CFieldDefinitions::Table& table : definitions.m_tables) {
        CFieldOverlay::Shape shape{TableCells(table), {}, table.m_name, PageCells(table.m_when)};
        for (const CFieldDefinitions::Column& column : table.m_columns)
            if (column.m_column - 1 > shape.m_cells.left())
                shape.m_breaks.push_back(column.m_column - 1);
        shapes.push_back(std::move(shape));
    }
    return shapes;
}

// Cut at the breaks (sorted, inside the block), one column each, named in order.
CFieldDefinitions::Table MakeTable(const QString& name, const QRect& cells,
                                   const std::vector<int>& breaks, const QStringList& names) {
    CFieldDefinitions::Table table{name, cells.top() + 1, cells.bottom() + 1, {}, std::nullopt};
    std::vector<int> starts{cells.left()};
    starts.insert(starts.end(), breaks.begin(), breaks.end());
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const int end = i + 1 < starts.size() ? starts[i + 1] : cells.right() + 1;
        table.m_columns.push_back(
            {names.value(static_cast<qsizetype>(i)), starts[i] + 1, end - starts[i]});
    }
    return table;
}

// The text between the first and the last cell that is not a space; *begin: where it starts.
QString Trimmed(const QString& cells, qsizetype* begin) {
    qsizetype first = 0;
    while (first < cells.size() && cells[first] == QLatin1Char(' '))
        ++first;
    qsizetype last = cells.size();
    while (last > first && cells[last - 1] == QLatin1Char(' '))
        --last;
    *begin = first;
    return cells.mid(first, last - first);
}

template <class T> bool Erase(std::vector<T>& entries, const QString& name) {
    return std::erase_if(entries, [&](const T& entry) { return entry.m_name == name; }) > 0;
}

template <class V> auto Find(V& entries, const QString& name) -> decltype(&entries.front()) {
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [&](const auto& entry) { return entry.m_name == name; });
    return found == entries.end() ? nullptr : &*found;
}

} // namespace

CFieldsDlg::CFieldsDlg(CStation& station, QWidget* parent)
    : QWidget(parent, kWindowFlags), m_station(station), m_port(station.Port()),
      m_feed(station.Fields()), m_path(station.FieldsFile()),
      m_refresh(CFieldsFeed::kTickMs, [this] { Refresh(); }) {
    setWindowTitle(QStringLiteral("Tallyview - Fields"));
    setFont(CScreenView::Font());
    CreateControls();
    Load();
    // Stored here or changed in the file by hand: the window shows what the outputs take, and
    // a file mended by hand no longer waits for a change made here.
    connect(&m_feed, &CFieldsFeed::DefinitionsChanged, this, [this] {
        if (m_fileRefused) {
            m_fileRefused = false;
            ShowInstructions();
        }
        ShowDefinitions();
    });
}

CFieldsDlg::~CFieldsDlg() {
    StopWatching();
}

// The screen as the main window shows it, with the layer over its rows.
QWidget* CFieldsDlg::CreateScreen() {
    auto* screen = new QWidget(this);
    auto* cursor = new QLabel(QStringLiteral("x-y"), screen);
    auto* status = new QLabel(screen);
    status->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* label = new QLabel(screen);
    label->setAlignment(Qt::AlignCenter);
    m_list = new QListWidget(screen);
    m_list->setObjectName(QStringLiteral("screen"));
    m_view = std::make_unique<CScreenView>(m_list, cursor, status, label);
    m_overlay = new CFieldOverlay(m_list);
    auto* top = new QHBoxLayout;
    top->addWidget(cursor, 1);
    top->addWidget(status, 2);
    auto* layout = new QVBoxLayout(screen);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(m_list, 1);
    layout->addWidget(label);
    return screen;
}

QLayout* CFieldsDlg::CreateEditing() {
    m_makeField = new QRadioButton(QStringLiteral("&Field"), this);
    m_makeField->setChecked(true);
    m_makeTable = new QRadioButton(QStringLiteral("&Table"), this);
    m_makeTable->setObjectName(QStringLiteral("table"));
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("name"));
    m_name->setPlaceholderText(QStringLiteral("name: a-z, 0-9, _"));
    m_columns = new QLineEdit(this);
    m_columns->setObjectName(QStringLiteral("columns"));
    m_columns->setPlaceholderText(QStringLiteral("a table's column names, separated by commas"));
    m_label = new QLineEdit(this);
    m_label->setObjectName(QStringLiteral("label"));
    m_label->setPlaceholderText(QStringLiteral("label on the cards (optional)"));
    m_label->setMaxLength(CFieldDefinitions::kMaxLabel);
    auto* editing = new QHBoxLayout;
    editing->addWidget(new QLabel(QStringLiteral("A drag makes a"), this));
    editing->addWidget(m_makeField);
    editing->addWidget(m_makeTable);
    editing->addWidget(m_name, 1);
    editing->addWidget(m_columns, 2);
    editing->addWidget(m_label, 1);
    AddButtons(editing, {{"&Add", "add", &CFieldsDlg::OnAdd},
                         {"&Rename", "rename", &CFieldsDlg::OnRename},
                         {"La&bel", "setLabel", &CFieldsDlg::OnLabel},
                         {"&Delete", "delete", &CFieldsDlg::OnDelete}});
    return editing;
}

// The page the selected one is read on; and, after one is made, its page's heading offered.
QLayout* CFieldsDlg::CreatePages() {
    auto* pages = new QHBoxLayout;
    pages->addWidget(new QLabel(QStringLiteral("Read it:"), this));
    AddButtons(pages, {{"&Only while this shows...", "pickPage", &CFieldsDlg::OnPickPage},
                       {"On &every page", "anyPage", &CFieldsDlg::OnAnyPage}});
    m_offer = AddButton(QString(), QStringLiteral("offer"));
    m_offer->hide();
    connect(m_offer, &QPushButton::clicked, this, &CFieldsDlg::OnOffer);
    pages->addWidget(m_offer);
    pages->addStretch(1);
    return pages;
}

QLayout* CFieldsDlg::CreateFolder() {
    m_folder = new QLabel(this);
    m_folder->setObjectName(QStringLiteral("folder"));
    m_folder->setTextFormat(Qt::PlainText);
    m_folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* folder = new QHBoxLayout;
    folder->addWidget(m_folder, 1);
    AddButtons(folder, {{"Fo&lder...", "chooseFolder", &CFieldsDlg::OnChooseFolder},
                        {"Tur&n off", "folderOff", &CFieldsDlg::OnFolderOff}});
    ShowFolder();
    return folder;
}

QPushButton* CFieldsDlg::AddButton(const QString& text, const QString& name) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

void CFieldsDlg::AddButtons(
    QBoxLayout* layout,
    std::initializer_list<std::tuple<const char*, const char*, Handler>> buttons) {
    for (auto [text, name, handler] : buttons) {
        QPushButton* button = AddButton(QLatin1String(text), QLatin1String(name));
        connect(button, &QPushButton::clicked, this, handler);
        layout->addWidget(button);
    }
}

void CFieldsDlg::CreateControls() {
    m_fields = new CFieldList(this);
    auto* splitter = new QSplitter(this);
    splitter->addWidget(CreateScreen());
    splitter->addWidget(m_fields);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setWordWrap(true);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_addresses = new CFieldAddresses(m_station, this);
    auto* outputs = new QFormLayout;
    outputs->addRow(QStringLiteral("Served at:"), m_addresses);
    outputs->addRow(QStringLiteral("Text files:"), CreateFolder());
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel(QStringLiteral("File: ") + QDir::toNativeSeparators(m_path), this),
                      1);
    QPushButton* close = AddButton(QStringLiteral("Close"), QStringLiteral("close"));
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    bottom->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter, 1);
    layout->addLayout(CreateEditing());
    layout->addLayout(CreatePages());
    layout->addWidget(m_message);
    layout->addLayout(outputs);
    layout->addLayout(bottom);
    // Every row and column with the list beside them, as far as the screen has room.
    const QFontMetrics metrics(m_list->font());
    const QSize wanted(
        metrics.horizontalAdvance(QString(CTerminalScreen::kCols + 60, QLatin1Char('M'))),
        metrics.height() * (CTerminalScreen::kRows + 24));
    resize(wanted.boundedTo(screen()->availableGeometry().size() * 9 / 10));

    connect(m_overlay, &CFieldOverlay::Marked, this, &CFieldsDlg::OnMarked);
    connect(m_overlay, &CFieldOverlay::Clicked, this, &CFieldsDlg::OnClicked);
    connect(m_overlay, &CFieldOverlay::MoveAsked, this, &CFieldsDlg::OnMoveAsked);
    connect(m_fields, &QTreeWidget::itemSelectionChanged, this, &CFieldsDlg::OnSelectionChanged);
    // A block marked before Table was chosen gets its column names too.
    connect(m_makeTable, &QRadioButton::toggled, this, [this] {
        if (m_marked)
            SetBreaks(m_breaks);
    });
    connect(m_name, &QLineEdit::returnPressed, this, &CFieldsDlg::OnEnter);
    connect(m_columns, &QLineEdit::returnPressed, this, &CFieldsDlg::OnEnter);
    connect(m_label, &QLineEdit::returnPressed, this, [this] {
        if (m_marked)
            OnAdd();
        else
            OnLabel();
    });
    new QShortcut(QKeySequence::Delete, m_fields, this, &CFieldsDlg::OnDelete, Qt::WidgetShortcut);
    new QShortcut(QKeySequence::Cancel, this, this, [this] {
        if (!m_picking)
            return;
        StopPicking();
        SetMessage(QStringLiteral("Its page is left as it was."));
    });
}

// The file as it is now is what the outputs take. One that cannot be used is left as it is
// until the operator's first change here, which the message says replaces it.
void CFieldsDlg::Load() {
    QString problem;
    if (std::optional<CFieldDefinitions> loaded = CFieldDefinitions::Load(m_path, &problem)) {
        if (*loaded != Definitions())
            m_station.SetFieldDefinitions(*loaded);
        ShowInstructions();
    } else {
        m_fileRefused = true;
        SetMessage(QStringLiteral("%1 A change made here replaces the file.").arg(problem));
    }
    ShowDefinitions();
}

void CFieldsDlg::ShowInstructions() {
    SetMessage(QStringLiteral("Drag over the screen and type a name to make a field or table; "
                              "click one to select it, drag it to move it."));
}

void CFieldsDlg::Open() {
    show();
    raise();
    activateWindow();
}

// While shown, the values are read as for the outputs, and the screen is shown again on each
// of its changes as they are announced (on the next turn of the event loop, never inside
// another reader's catching up).
void CFieldsDlg::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_feed.Take(this);
    if (m_reader < 0)
        m_reader = m_station.ScreenChanges().Subscribe([this] {
            QMetaObject::invokeMethod(
                this, [this] { m_refresh.Request(); }, Qt::QueuedConnection);
        });
    m_station.ScreenChanges().CatchUp();
    Refresh();
}

void CFieldsDlg::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    StopWatching();
}

void CFieldsDlg::StopWatching() {
    m_refresh.Cancel();
    m_feed.LetGo(this);
    if (m_reader >= 0)
        m_station.ScreenChanges().Unsubscribe(std::exchange(m_reader, -1));
}

// Every row, blank or not, so that any of them can be marked. The values are the outputs' own,
// read on the same drain.
void CFieldsDlg::Refresh() {
    if (m_reader >= 0)
        m_station.ScreenChanges().Take(m_reader);
    m_view->Show(m_port.Rows(), m_port.StatusText(), m_port.LabelText(), m_port.Row(),
                 m_port.Col());
    m_fields->ShowValues(m_feed.Values());
}

void CFieldsDlg::ShowDefinitions() {
    {
        const QSignalBlocker quiet(m_fields);
        m_fields->ShowDefinitions(Definitions());
    }
    m_fields->ShowValues(m_feed.Values());
    m_addresses->ShowNow();
    DrawShapes();
}

void CFieldsDlg::DrawShapes() {
    std::vector<CFieldOverlay::Shape> shapes = Shapes(Definitions());
    const QString selected = m_fields->SelectedName();
    const auto found = std::find_if(shapes.begin(), shapes.end(),
                                    [&](const auto& shape) { return shape.m_name == selected; });
    const int index =
        found == shapes.end() || selected.isEmpty() ? -1 : static_cast<int>(found - shapes.begin());
    m_overlay->SetShapes(std::move(shapes), index);
}

void CFieldsDlg::SetMessage(const QString& text) {
    m_message->setText(text);
}

void CFieldsDlg::OnMarked(const QRect& cells) {
    if (m_picking) {
        if (const When when = TextAt(cells))
            SetWhen(m_fields->SelectedName(), when);
        else
            SetMessage(QStringLiteral("Nothing shows there: drag over the text that names the "
                                      "page, or press Esc."));
        return;
    }
    m_fields->clearSelection();
    m_marked = cells;
    // Something new: its name and its columns' names are typed anew.
    m_name->clear();
    m_columns->clear();
    m_label->clear();
    SetBreaks({});
    m_name->setFocus();
}

// In a marked block a click sets or takes away a column break (a table's first column starts
// at the block's edge); elsewhere it selects what is under it, or marks the one cell.
void CFieldsDlg::OnClicked(const QPoint& cell) {
    if (m_picking) {
        if (const When when = RunAt(cell))
            SetWhen(m_fields->SelectedName(), when);
        else
            OnMarked(QRect(cell, QSize(1, 1))); // says nothing shows there
        return;
    }
    if (m_marked && m_marked->contains(cell) && m_makeTable->isChecked()) {
        if (cell.x() == m_marked->left())
            return;
        std::vector<int> breaks = m_breaks;
        if (std::erase(breaks, cell.x()) == 0)
            breaks.push_back(cell.x());
        std::sort(breaks.begin(), breaks.end());
        SetBreaks(std::move(breaks));
        m_name->setFocus(); // the name is typed next
        return;
    }
    if (const QString name = NameAt(cell); !name.isEmpty()) {
        m_marked.reset();
        m_overlay->SetMarked(std::nullopt);
        m_fields->Select(name);
        return;
    }
    OnMarked(QRect(cell, QSize(1, 1)));
}

// The column names follow the breaks: those typed stay, new columns get a name to change.
void CFieldsDlg::SetBreaks(std::vector<int> breaks) {
    m_breaks = std::move(breaks);
    QStringList names = ColumnNames();
    const qsizetype count = static_cast<qsizetype>(m_breaks.size()) + 1;
    names.resize(std::min(names.size(), count));
    while (names.size() < count)
        names << QStringLiteral("col%1").arg(names.size() + 1);
    if (m_makeTable->isChecked())
        m_columns->setText(names.join(QStringLiteral(", ")));
    std::optional<CFieldOverlay::Shape> shape;
    if (m_marked)
        shape = CFieldOverlay::Shape{*m_marked, m_breaks, {}, {}};
    m_overlay->SetMarked(shape);
}

QStringList CFieldsDlg::ColumnNames() const {
    QStringList names;
    for (const QString& name : m_columns->text().split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (const QString trimmed = name.trimmed(); !trimmed.isEmpty())
            names << trimmed;
    return names;
}

QString CFieldsDlg::NameAt(const QPoint& cell) const {
    QString best;
    qint64 bestArea = 0;
    for (const CFieldOverlay::Shape& shape : Shapes(Definitions())) {
        const qint64 area = qint64{shape.m_cells.width()} * shape.m_cells.height();
        if (shape.m_cells.contains(cell) && (best.isEmpty() || area < bestArea)) {
            best = shape.m_name;
            bestArea = area;
        }
    }
    return best;
}

void CFieldsDlg::OnSelectionChanged() {
    const QString name = m_fields->SelectedName();
    DrawShapes();
    if (name.isEmpty())
        return;
    m_name->setText(name);
    if (const CFieldDefinitions::Field* field = Find(Definitions().m_fields, name))
        m_label->setText(field->m_label);
    if (const CFieldDefinitions::Table* table = Find(Definitions().m_tables, name)) {
        m_label->setText(table->m_label);
        QStringList names;
        for (const CFieldDefinitions::Column& column : table->m_columns)
            names << column.m_name;
        m_columns->setText(names.join(QStringLiteral(", ")));
    }
}

// Enter makes what is marked, or renames what is selected.
void CFieldsDlg::OnEnter() {
    if (m_marked)
        OnAdd();
    else if (!m_fields->SelectedName().isEmpty())
        OnRename();
}

void CFieldsDlg::OnAdd() {
    if (!m_marked) {
        SetMessage(QStringLiteral("Drag over the screen first to mark where it is."));
        return;
    }
    const QString name = m_name->text().trimmed();
    CFieldDefinitions candidate = Definitions();
    const QRect cells = *m_marked;
    const QString label = m_label->text().trimmed();
    if (m_makeTable->isChecked()) {
        candidate.m_tables.push_back(MakeTable(name, cells, m_breaks, ColumnNames()));
        candidate.m_tables.back().m_label = label;
    } else {
        candidate.m_fields.push_back({name, cells.top() + 1, cells.left() + 1, cells.width(),
                                      cells.height(), std::nullopt, label});
    }
    if (!Commit(candidate, QStringLiteral("Added %1.").arg(name)))
        return;
    m_marked.reset();
    m_breaks.clear();
    m_overlay->SetMarked(std::nullopt);
    m_fields->Select(name);
    Offer(name, cells);
}

void CFieldsDlg::OnRename() {
    const QString name = m_fields->SelectedName();
    const QString newName = m_name->text().trimmed();
    CFieldDefinitions candidate = Definitions();
    if (CFieldDefinitions::Field* field = Find(candidate.m_fields, name)) {
        field->m_name = newName;
    } else if (CFieldDefinitions::Table* table = Find(candidate.m_tables, name)) {
        const QStringList names = ColumnNames();
        if (names.size() != static_cast<qsizetype>(table->m_columns.size())) {
            SetMessage(QStringLiteral("Not renamed: %1 has %2 columns and %3 names were given.")
                           .arg(name)
                           .arg(table->m_columns.size())
                           .arg(names.size()));
            return;
        }
        table->m_name = newName;
        for (std::size_t i = 0; i < table->m_columns.size(); ++i)
            table->m_columns[i].m_name = names[static_cast<qsizetype>(i)];
    } else {
        SetMessage(QStringLiteral("Select a field or table to rename."));
        return;
    }
    if (Commit(candidate, QStringLiteral("Renamed %1.").arg(name)))
        m_fields->Select(newName);
}

// An empty label shows the name again.
void CFieldsDlg::OnLabel() {
    const QString name = m_fields->SelectedName();
    const QString label = m_label->text().trimmed();
    CFieldDefinitions candidate = Definitions();
    if (CFieldDefinitions::Field* field = Find(candidate.m_fields, name)) {
        field->m_label = label;
    } else if (CFieldDefinitions::Table* table = Find(candidate.m_tables, name)) {
        table->m_label = label;
    } else {
        SetMessage(QStringLiteral("Select a field or table to label."));
        return;
    }
    Commit(candidate, label.isEmpty() ? QStringLiteral("%1 shows its name.").arg(name)
                                      : QStringLiteral("%1 shows as \"%2\".").arg(name, label));
}

void CFieldsDlg::OnMoveAsked(const QPoint& offset) {
    const QString name = m_fields->SelectedName();
    CFieldDefinitions candidate = Definitions();
    if (CFieldDefinitions::Field* field = Find(candidate.m_fields, name)) {
        field->m_row += offset.y();
        field->m_column += offset.x();
    } else if (CFieldDefinitions::Table* table = Find(candidate.m_tables, name)) {
        table->m_firstRow += offset.y();
        table->m_lastRow += offset.y();
        for (CFieldDefinitions::Column& column : table->m_columns)
            column.m_column += offset.x();
    }
    Commit(candidate, QStringLiteral("Moved %1.").arg(name));
}

void CFieldsDlg::OnDelete() {
    const QString name = m_fields->SelectedName();
    CFieldDefinitions candidate = Definitions();
    if (!Erase(candidate.m_fields, name) && !Erase(candidate.m_tables, name)) {
        SetMessage(QStringLiteral("Select a field or table to delete."));
        return;
    }
    Commit(candidate, QStringLiteral("Deleted %1.").arg(name));
}

bool CFieldsDlg::Commit(const CFieldDefinitions& candidate, const QString& done) {
    m_offer->hide();
    if (const QString problem = candidate.Problem(); !problem.isEmpty()) {
        SetMessage(QStringLiteral("Not changed: %1.").arg(problem));
        return false;
    }
    if (QString error; !m_station.StoreFieldDefinitions(Definitions(), candidate, &error)) {
        SetMessage(QStringLiteral("Not changed: %1.").arg(error));
        return false;
    }
    SetMessage(QStringLiteral("%1 Stored in %2.").arg(done, QDir::toNativeSeparators(m_path)));
    return true;
}

void CFieldsDlg::OnPickPage() {
    const QString name = m_fields->SelectedName();
    if (name.isEmpty()) {
        SetMessage(QStringLiteral("Select a field or table first."));
        return;
    }
    m_picking = true;
    m_marked.reset();
    m_overlay->SetMarked(std::nullopt);
    m_overlay->SetMoving(false);
    SetMessage(QStringLiteral("Drag over (or click) the text that names the page %1 is on (a "
                              "heading); Esc leaves its page as it is.")
                   .arg(name));
}

void CFieldsDlg::StopPicking() {
    m_picking = false;
    m_overlay->SetMoving(true);
}

void CFieldsDlg::OnAnyPage() {
    SetWhen(m_fields->SelectedName(), std::nullopt);
}

void CFieldsDlg::OnOffer() {
    SetWhen(m_offeredFor, m_offered);
}

bool CFieldsDlg::SetWhen(const QString& name, const When& when) {
    StopPicking();
    CFieldDefinitions candidate = Definitions();
    When* page = nullptr;
    if (CFieldDefinitions::Field* field = Find(candidate.m_fields, name))
        page = &field->m_when;
    else if (CFieldDefinitions::Table* table = Find(candidate.m_tables, name))
        page = &table->m_when;
    if (!page) {
        SetMessage(QStringLiteral("Select a field or table first."));
        return false;
    }
    *page = when;
    const QString done =
        when ? QStringLiteral("%1 is read only while \"%2\" shows at row %3, column %4.")
                   .arg(name, when->m_text)
                   .arg(when->m_row)
                   .arg(when->m_column)
             : QStringLiteral("%1 is read on every page.").arg(name);
    return Commit(candidate, done);
}

void CFieldsDlg::Offer(const QString& name, const QRect& cells) {
    m_offeredFor = name;
    m_offered = Heading(cells);
    if (!m_offered)
        return;
    m_offer->setText(
        QStringLiteral("%1 only while \"%2\" shows")
            .arg(name, QString(m_offered->m_text).replace(QLatin1Char('&'), QStringLiteral("&&"))));
    m_offer->show();
}

// A loose drag over a heading may start on the blank row above it.
CFieldsDlg::When CFieldsDlg::TextAt(const QRect& cells) const {
    for (int row = cells.top() + 1; row <= cells.bottom() + 1; ++row) {
        qsizetype begin = 0;
        const QString text =
            Trimmed(CFieldValues::ShownText(m_port, row, cells.left() + 1, cells.width()), &begin);
        if (!text.isEmpty())
            return CFieldDefinitions::When{row, cells.left() + 1 + int(begin), text};
    }
    return std::nullopt;
}

// A click picks a whole run of text, as a heading reads.
CFieldsDlg::When CFieldsDlg::RunAt(const QPoint& cell) const {
    const QString row = CFieldValues::ShownText(m_port, cell.y() + 1, 1, CTerminalScreen::kCols);
    const auto inRun = [&](qsizetype at) {
        return row[at] != QLatin1Char(' ') ||
               (at > 0 && at + 1 < row.size() && row[at - 1] != QLatin1Char(' ') &&
                row[at + 1] != QLatin1Char(' '));
    };
    if (!inRun(cell.x()))
        return std::nullopt;
    qsizetype begin = cell.x();
    while (begin > 0 && inRun(begin - 1))
        --begin;
    qsizetype end = cell.x() + 1;
    while (end < row.size() && inRun(end))
        ++end;
    return CFieldDefinitions::When{cell.y() + 1, int(begin) + 1, row.mid(begin, end - begin)};
}

CFieldsDlg::When CFieldsDlg::Heading(const QRect& made) const {
    for (int row = 1; row <= CTerminalScreen::kRows; ++row) {
        qsizetype begin = 0;
        if (Trimmed(CFieldValues::ShownText(m_port, row, 1, CTerminalScreen::kCols), &begin)
                .isEmpty())
            continue;
        When heading = RunAt(QPoint(int(begin), row - 1));
        if (made.intersects(QRect(int(begin), row - 1, int(heading->m_text.size()), 1)))
            return std::nullopt;
        return heading;
    }
    return std::nullopt;
}

void CFieldsDlg::OnChooseFolder() {
    QFileDialog dialog(this, QStringLiteral("Folder for a text file per field"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    const QString folder = m_station.FieldsFolder();
    dialog.setDirectory(folder.isEmpty() ? QFileInfo(m_path).absolutePath() : folder);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        ChangeFolder(dialog.selectedFiles().constFirst());
}

void CFieldsDlg::OnFolderOff() {
    ChangeFolder(QString());
}

// Taken up at once; the settings file keeps it from when the main window closes.
void CFieldsDlg::ChangeFolder(const QString& folder) {
    const QString problem = m_station.ChangeFieldsFolder(folder);
    ShowFolder();
    m_addresses->ShowNow();
    if (!problem.isEmpty())
        SetMessage(QStringLiteral("Text files: %1").arg(problem));
    else if (folder.isEmpty())
        SetMessage(QStringLiteral("No text files are kept from now on. Tallyview.cfg keeps this "
                                  "when the main window closes."));
    else
        SetMessage(QStringLiteral("Each field is kept in %1 as NAME.txt from now on. "
                                  "Tallyview.cfg keeps this folder when the main window closes.")
                       .arg(QDir::toNativeSeparators(folder)));
}

void CFieldsDlg::ShowFolder() {
    const QString folder = m_station.FieldsFolder();
    m_folder->setText(folder.isEmpty() ? QStringLiteral("off") : QDir::toNativeSeparators(folder));
    if (QWidget* off = findChild<QWidget*>(QStringLiteral("folderOff")))
        off->setEnabled(!folder.isEmpty());
}

const CFieldDefinitions& CFieldsDlg::Definitions() const {
    return m_feed.Definitions();
}
