#include "CFieldsFile.h"

#include "CFieldsChange.h"
#include "CSettingsFile.h"

#include <QDir>
#include <QFileInfo>

CFieldsFile::CFieldsFile(QString path) : m_path(std::move(path)) {
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &CFieldsFile::Check);
    // Never restarted while running: a folder written to all the time must not put it off.
    const auto settle = [this] {
        if (!m_settle.isActive())
            m_settle.start();
    };
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, settle);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, settle);
}

std::optional<CFieldDefinitions> CFieldsFile::Load(QString* message) {
    QString problem;
    std::optional<CFieldDefinitions> definitions =
        CFieldDefinitions::Read(m_path, &m_served, &problem);
    if (!definitions) {
        *message = CFieldDefinitions::NotUsed(m_path, problem);
        m_refused = m_served;
    }
    Watch();
    return definitions;
}

// The file itself for a change in place, its folder for a save by rename (which ends the
// watch on the file: it is watched again).
void CFieldsFile::Watch() {
    const QFileInfo file(m_path);
    if (file.exists() && !m_watcher.files().contains(file.absoluteFilePath()))
        m_watcher.addPath(file.absoluteFilePath());
    if (m_watcher.directories().isEmpty() && file.absoluteDir().exists())
        m_watcher.addPath(file.absolutePath());
}

// A file gone (an editor between its steps, or removed) leaves the fields as they are.
void CFieldsFile::Check() {
    Watch();
    if (CSettingsFile(m_path).IsMissing())
        return;
    QByteArray bytes;
    QString problem;
    const std::optional<CFieldDefinitions> definitions =
        CFieldDefinitions::Read(m_path, &bytes, &problem);
    if (bytes == m_served) {
        TakeUp(bytes);
        return;
    }
    if (definitions) {
        TakeUp(bytes);
        emit Changed(*definitions);
        return;
    }
    if (bytes == m_refused)
        return;
    if (bytes != m_unsettled) {
        // Perhaps half written: read again before saying so.
        m_unsettled = bytes;
        m_settle.start();
        return;
    }
    m_refused = bytes;
    emit Refused(CFieldDefinitions::NotUsed(m_path, problem) +
                 QStringLiteral(" The fields read before stay in use."));
}

void CFieldsFile::TakeUp(const QByteArray& bytes) {
    m_served = bytes;
    m_refused.clear();
    m_unsettled.clear();
}

std::optional<CFieldDefinitions>
CFieldsFile::Store(const CFieldDefinitions& base, const CFieldDefinitions& edited, QString* error) {
    QByteArray bytes;
    QString problem;
    const std::optional<CFieldDefinitions> current =
        CFieldDefinitions::Read(m_path, &bytes, &problem);
    if (!current && bytes != m_served) {
        *error = QStringLiteral("%1 was changed meanwhile and cannot be used: %2; mend it first")
                     .arg(Shown(), problem);
        return std::nullopt;
    }
    const std::optional<CFieldDefinitions> stored =
        current ? OnTopOf(*current, bytes, CFieldsChange(base, edited), error) : edited;
    if (!stored)
        return std::nullopt;
    if (!stored->Save(m_path, &problem)) {
        *error = QStringLiteral("%1 cannot be stored: %2").arg(Shown(), problem);
        return std::nullopt;
    }
    TakeUp(stored->ToJson());
    Watch();
    return stored;
}

std::optional<CFieldDefinitions> CFieldsFile::OnTopOf(const CFieldDefinitions& current,
                                                      const QByteArray& bytes,
                                                      const CFieldsChange& change, QString* error) {
    QString problem;
    std::optional<CFieldDefinitions> merged = change.ApplyTo(current, &problem);
    if (!merged) {
        *error = QStringLiteral("%1 was changed meanwhile, and %2; it is shown as it stands now")
                     .arg(Shown(), problem);
        TakeUp(bytes);
        emit Changed(current);
    } else if (problem = merged->Problem(); !problem.isEmpty()) {
        *error = QStringLiteral("with the changes made meanwhile in %1, %2").arg(Shown(), problem);
        merged.reset();
    }
    return merged;
}

QString CFieldsFile::Shown() const {
    return QDir::toNativeSeparators(m_path);
}
