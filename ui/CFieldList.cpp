#include "CFieldList.h"

#include "CFieldValues.h"

#include <QHeaderView>
#include <QStringList>

namespace {

// A value of several rows reads on one line of the list.
constexpr QChar kRowBreak(0x21B5);

QString FieldPlace(const CFieldDefinitions::Field& field) {
    return QStringLiteral("%1-%2, %3 x %4")
        .arg(field.m_row, 3, 10, QLatin1Char('0'))
        .arg(field.m_column, 3, 10, QLatin1Char('0'))
        .arg(field.m_width)
        .arg(field.m_height);
}

QString TablePlace(const CFieldDefinitions::Table& table) {
    return QStringLiteral("rows %1-%2, %3 columns")
        .arg(table.m_firstRow)
        .arg(table.m_lastRow)
        .arg(table.m_columns.size());
}

// Where the page's text must stand, for the tooltip: the column is narrow.
QString PageTip(const std::optional<CFieldDefinitions::When>& when) {
    if (!when)
        return QStringLiteral("Read on every page");
    return QStringLiteral("Read only while \"%1\" shows at %2-%3")
        .arg(when->m_text)
        .arg(when->m_row, 3, 10, QLatin1Char('0'))
        .arg(when->m_column, 3, 10, QLatin1Char('0'));
}

} // namespace

CFieldList::CFieldList(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("fieldList"));
    setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Place"), QStringLiteral("Page"),
                     QStringLiteral("Value")});
    setSelectionMode(QAbstractItemView::SingleSelection);
    setRootIsDecorated(true);
    // Values are shown on one line each; heights need not be measured at every change.
    setUniformRowHeights(true);
    // Sized to their contents when the definitions change, not at every value: measuring every
    // row's text at each change of a value would cost more than all else the window does.
    header()->setStretchLastSection(true);
}

void CFieldList::ShowDefinitions(const CFieldDefinitions& definitions) {
    const QString selected = SelectedName();
    clear();
    for (const CFieldDefinitions::Field& field : definitions.m_fields)
        addTopLevelItem(NamedItem(field, FieldPlace(field)));
    for (const CFieldDefinitions::Table& table : definitions.m_tables) {
        QTreeWidgetItem* item = NamedItem(table, TablePlace(table));
        QStringList names;
        for (const CFieldDefinitions::Column& column : table.m_columns)
            names << column.m_name;
        item->setText(kValue, names.join(QStringLiteral(" | ")));
        for (int row = table.m_firstRow; row <= table.m_lastRow; ++row)
            item->addChild(new QTreeWidgetItem(QStringList{QString(), QString::number(row)}));
        addTopLevelItem(item);
        item->setExpanded(true);
    }
    Select(selected);
    for (int column : {kName, kPlace, kPage})
        resizeColumnToContents(column);
}

// Under its label, as the cards show it, with the name the outputs use beside it.
template <class Entry>
QTreeWidgetItem* CFieldList::NamedItem(const Entry& entry, const QString& place) {
    const QString label = entry.Label();
    auto* item = new QTreeWidgetItem(
        {label == entry.m_name ? label : QStringLiteral("%1 (%2)").arg(label, entry.m_name),
         place});
    item->setData(kName, Qt::UserRole, entry.m_name);
    return item;
}

void CFieldList::ShowValue(QTreeWidgetItem* item, const QString& value, bool current) {
    if (item->text(kValue) != value)
        item->setText(kValue, value);
    // Kept from a page no longer shown: still the value, but not to be taken as live.
    QFont font = item->font(kValue);
    font.setItalic(!current);
    item->setFont(kValue, font);
    item->setToolTip(kValue,
                     current ? QString() : QStringLiteral("Not current: its page is not shown"));
}

// Whether the page shows changes with the screen, so it is written with the values.
bool CFieldList::ShowPage(QTreeWidgetItem* item, const std::optional<CFieldDefinitions::When>& when,
                          bool current) {
    const QString page = !when     ? QStringLiteral("every page")
                         : current ? QStringLiteral("\"%1\": shown").arg(when->m_text)
                                   : QStringLiteral("\"%1\": not shown").arg(when->m_text);
    if (item->text(kPage) == page)
        return false;
    item->setText(kPage, page);
    item->setToolTip(kPage, PageTip(when));
    return true;
}

// The items stand in the order of the definitions, fields first: read by place, not by name.
void CFieldList::ShowValues(const CFieldValues& values) {
    const CFieldDefinitions& definitions = values.Definitions();
    const std::size_t fields = definitions.m_fields.size();
    if (static_cast<std::size_t>(topLevelItemCount()) != fields + definitions.m_tables.size())
        return;
    bool pages = false;
    for (std::size_t i = 0; i < fields; ++i) {
        const CFieldDefinitions::Field& field = definitions.m_fields[i];
        QTreeWidgetItem* item = topLevelItem(static_cast<int>(i));
        const bool current = values.IsCurrent(field.m_name);
        ShowValue(item, QString(values.Field(field.m_name)).replace(QLatin1Char('\n'), kRowBreak),
                  current);
        pages |= ShowPage(item, field.m_when, current);
    }
    for (std::size_t t = 0; t < definitions.m_tables.size(); ++t) {
        const CFieldDefinitions::Table& table = definitions.m_tables[t];
        QTreeWidgetItem* item = topLevelItem(static_cast<int>(fields + t));
        const std::vector<CFieldValues::Row> rows = values.Table(table.m_name);
        const bool current = values.IsCurrent(table.m_name);
        pages |= ShowPage(item, table.m_when, current);
        for (int i = 0; i < item->childCount() && i < static_cast<int>(rows.size()); ++i) {
            const CFieldValues::Row& row = rows[static_cast<std::size_t>(i)];
            QStringList cells;
            for (const CFieldDefinitions::Column& column : table.m_columns) {
                const auto cell = row.find(column.m_name);
                cells << (cell == row.end() ? QString() : cell->second);
            }
            ShowValue(item->child(i), cells.join(QStringLiteral(" | ")), current);
        }
    }
    // Only when a page came or went, which is seldom, unlike a value.
    if (pages)
        resizeColumnToContents(kPage);
}

QString CFieldList::SelectedName() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (selected.isEmpty())
        return {};
    const QTreeWidgetItem* item = selected.front();
    return (item->parent() ? item->parent() : item)->data(kName, Qt::UserRole).toString();
}

void CFieldList::Select(const QString& name) {
    QTreeWidgetItem* item = Item(name);
    if (!item) {
        clearSelection();
        return;
    }
    setCurrentItem(item);
    scrollToItem(item);
}

QTreeWidgetItem* CFieldList::Item(const QString& name) const {
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->data(kName, Qt::UserRole).toString() == name && !name.isEmpty())
            return topLevelItem(i);
    return nullptr;
}
