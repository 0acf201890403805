#pragma once

#include <QString>
#include <QTemporaryDir>

// A temporary directory made the current one while it lives; the previous one comes back after.
class CTempCwd {
public:
    CTempCwd();
    ~CTempCwd();

    QString Path() const { return m_dir.path(); }
    QString File(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};
