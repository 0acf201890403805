#include "CFieldsChange.h"

#include <algorithm>

namespace {

template <typename Entry>
const Entry* Find(const std::vector<Entry>& entries, const QString& name) {
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [&](const Entry& entry) { return entry.m_name == name; });
    return found == entries.end() ? nullptr : &*found;
}

// Makes one list's part of the change (base -> edited) to `current`; empty, or the conflict.
template <typename Entry>
QString Apply(const std::vector<Entry>& base, const std::vector<Entry>& edited,
              std::vector<Entry>& current, const char* kind) {
    const auto conflict = [&](const QString& name, const char* what) {
        return QStringLiteral("%1 %2 %3")
            .arg(QLatin1String(kind), CFieldDefinitions::Quoted(name), QLatin1String(what));
    };
    for (const Entry& before : base) {
        const Entry* after = Find(edited, before.m_name);
        if (after && *after == before)
            continue;
        const auto there = std::find_if(current.begin(), current.end(), [&](const Entry& entry) {
            return entry.m_name == before.m_name;
        });
        if (there == current.end()) {
            if (after)
                return conflict(before.m_name, "was deleted there");
        } else if (*there == before) {
            if (after)
                *there = *after;
            else
                current.erase(there);
        } else if (!after || !(*there == *after)) {
            return conflict(before.m_name, "was changed there too");
        }
    }
    for (const Entry& added : edited) {
        if (Find(base, added.m_name))
            continue;
        if (const Entry* there = Find(current, added.m_name); !there)
            current.push_back(added);
        else if (!(*there == added))
            return conflict(added.m_name, "was made there too");
    }
    return {};
}

} // namespace

CFieldsChange::CFieldsChange(CFieldDefinitions base, CFieldDefinitions edited)
    : m_base(std::move(base)), m_edited(std::move(edited)) {}

std::optional<CFieldDefinitions> CFieldsChange::ApplyTo(CFieldDefinitions current,
                                                        QString* conflict) const {
    *conflict = Apply(m_base.m_fields, m_edited.m_fields, current.m_fields, "field");
    if (conflict->isEmpty())
        *conflict = Apply(m_base.m_tables, m_edited.m_tables, current.m_tables, "table");
    if (!conflict->isEmpty())
        return std::nullopt;
    return current;
}
