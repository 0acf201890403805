#pragma once

#include "CFieldDefinitions.h"

#include <QString>
#include <optional>

// What one editor did to the definitions, entry by entry (by name): entries added, deleted and
// changed between what it started from and what it made. Applied to the definitions as someone
// else left them meanwhile, it keeps everything it did not touch, and refuses where both
// touched the same entry.
class CFieldsChange {
public:
    CFieldsChange(CFieldDefinitions base, CFieldDefinitions edited);

    // `current` with this change made to it; nullopt and *conflict (`field "score" was changed
    // there too`) when an entry it touches is not as it started from there.
    std::optional<CFieldDefinitions> ApplyTo(CFieldDefinitions current, QString* conflict) const;

private:
    CFieldDefinitions m_base;
    CFieldDefinitions m_edited;
};
