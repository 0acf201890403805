#pragma once

#include "CFieldDefinitions.h"

#include <QString>
#include <QTreeWidget>
#include <optional>

class CFieldValues;

// The defined fields and tables beside the screen, each under its label, with where it is, the page
// it is read on (and whether that page shows now) and its value as it stands; a table shows a line
// for each of its rows. Values are updated in place, so the selection and the scroll position stay
// where the operator left them.
class CFieldList : public QTreeWidget {
    Q_OBJECT

public:
    enum ColumnId { kName, kPlace, kPage, kValue };

    explicit CFieldList(QWidget* parent);

    // Lists the definitions anew, keeping the selected name selected.
    void ShowDefinitions(const CFieldDefinitions& definitions);
    void ShowValues(const CFieldValues& values);
    // Empty when nothing is selected.
    QString SelectedName() const;
    void Select(const QString& name);
    // The item of a field or table, or null.
    QTreeWidgetItem* Item(const QString& name) const;

private:
    template <class Entry>
    static QTreeWidgetItem* NamedItem(const Entry& entry, const QString& place);
    static void ShowValue(QTreeWidgetItem* item, const QString& value, bool current);
    // True when the item's page text changed.
    static bool ShowPage(QTreeWidgetItem* item, const std::optional<CFieldDefinitions::When>& when,
                         bool current);
};
