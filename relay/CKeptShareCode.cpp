#include "CKeptShareCode.h"

#include "CSettingsKeys.h"
#include "CShareConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// A code and its newline; anything longer is no code of ours and is not read whole.
constexpr qint64 kMostBytes = CShareConfig::kCodeLength + 2;

QString Native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

} // namespace

QString CKeptShareCode::DefaultPath() {
    // systemd may list several state directories, separated by colons: the first is the unit's.
    const QString systemd = qEnvironmentVariable("STATE_DIRECTORY").section(QLatin1Char(':'), 0, 0);
    if (!systemd.isEmpty())
        return QDir(systemd).filePath(QLatin1String(kFileName));
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // The XDG rule: a relative path is to be ignored.
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::home().filePath(QStringLiteral(".local/state"));
    return QDir(state).filePath(QStringLiteral("tallyview/") + QLatin1String(kFileName));
}

QString CKeptShareCode::Take(QString& said) const {
    const bool there = QFileInfo::exists(m_path);
    if (const QString code = Read(); !code.isEmpty()) {
        said = QStringLiteral("The share code is kept in %1.").arg(Native(m_path));
        return code;
    }
    const QString code = CSettingsKeys::NewCode();
    const QString failed = Store(code);
    if (!failed.isEmpty())
        said = QStringLiteral("The share code cannot be kept in %1 (%2): the address will change "
                              "at the next start. Give share_code in the settings or "
                              "--share-code to fix it.")
                   .arg(Native(m_path), failed);
    else if (there)
        said = QStringLiteral("The file %1 held no usable share code: a new one is kept there, "
                              "and the address has changed.")
                   .arg(Native(m_path));
    else
        said = QStringLiteral("The share code is kept in %1.").arg(Native(m_path));
    return code;
}

QString CKeptShareCode::Read() const {
    QFile file(m_path);
    if (!QFileInfo(m_path).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.read(kMostBytes + 1);
    const QString code = QString::fromLatin1(bytes).trimmed();
    return bytes.size() <= kMostBytes && CShareConfig::IsCode(code) ? code : QString();
}

QString CKeptShareCode::Store(const QString& code) const {
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("cannot make the folder");
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    // The code opens the screen to whoever knows it: readable by the owner only.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return file.errorString();
    const QByteArray bytes = code.toLatin1() + '\n';
    if (file.write(bytes) != bytes.size() || !file.flush())
        return file.errorString();
    return file.commit() ? QString() : file.errorString();
}
