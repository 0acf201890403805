#include "CStation.h"

#include "CFieldsFeed.h"
#include "CFieldsFile.h"
#include "CFieldsFolder.h"
#include "CJournal.h"
#include "CJournalFolder.h"
#include "CMqttPublisher.h"
#include "CScreenClock.h"
#include "CSettingsFile.h"
#include "CSettingsKeys.h"
#include "CShareConfig.h"
#include "CShareServer.h"
#include "CTerminalPort.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString Key(const char* name) {
    return QLatin1String(name);
}

} // namespace

CStation::CStation() : CStation(std::make_unique<CTerminalPort>()) {}

CStation::CStation(const QString& settingsPath)
    : CStation(std::make_unique<CTerminalPort>(settingsPath)) {}

// A closed port is never drained, for viewers as for the window.
CStation::CStation(std::unique_ptr<CTerminalPort> port) : m_port(std::move(port)) {
    m_clock = std::make_unique<CScreenClock>(*m_port, [this] { return m_port->IsOpen(); });
    m_fields = std::make_unique<CFieldsFeed>(m_clock->Changes());
    m_share = std::make_unique<CShareServer>(m_clock->Changes(), *m_fields);
}

CStation::~CStation() {
    m_share.reset();
    QObject::disconnect(m_fieldsToPublisher);
    m_fieldsFolder.reset();
    m_port->Close();
}

CScreenChanges& CStation::ScreenChanges() {
    return m_clock->Changes();
}

QString CStation::Load() {
    QString problem;
    m_port->LoadSettings([&] { problem = StartOutputs(); });
    return problem;
}

// Before the port opens, so the restored screen comes before every byte of the line and the
// journal sees all of them.
QString CStation::StartOutputs() {
    LoadFields();
    StartJournal();
    return Publish();
}

void CStation::LoadFields() {
    const QString path = FieldsFile();
    m_fieldsFile = std::make_unique<CFieldsFile>(path);
    QObject::connect(m_fieldsFile.get(), &CFieldsFile::Changed,
                     [this](const CFieldDefinitions& definitions) {
                         if (definitions != m_fields->Definitions())
                             SetFieldDefinitions(definitions);
                     });
    QObject::connect(m_fieldsFile.get(), &CFieldsFile::Refused,
                     [](const QString& message) { CTerminalPort::ShowMessage(message); });
    if (!m_port->Option(Key(CSettingsKeys::kFieldsFile)).isEmpty() &&
        CSettingsFile(path).IsMissing())
        CTerminalPort::ShowMessage(
            QStringLiteral("The fields file %1 does not exist: no fields are read until it does.")
                .arg(QDir::toNativeSeparators(path)));
    QString message;
    std::optional<CFieldDefinitions> definitions = m_fieldsFile->Load(&message);
    if (!definitions)
        CTerminalPort::ShowMessage(message);
    SetFieldDefinitions(definitions.value_or(CFieldDefinitions()));
}

void CStation::SetFieldDefinitions(const CFieldDefinitions& definitions) {
    m_fields->SetDefinitions(definitions);
    StartFieldsFolder();
    FeedPublisher();
}

bool CStation::StoreFieldDefinitions(const CFieldDefinitions& base, const CFieldDefinitions& edited,
                                     QString* error) {
    if (!m_fieldsFile)
        LoadFields();
    const std::optional<CFieldDefinitions> stored = m_fieldsFile->Store(base, edited, error);
    if (stored)
        SetFieldDefinitions(*stored);
    return stored.has_value();
}

QString CStation::FieldsFile() const {
    const QString file = m_port->Option(Key(CSettingsKeys::kFieldsFile));
    if (!file.isEmpty())
        return file;
    return QFileInfo(m_port->SettingsPath()).dir().filePath(QStringLiteral("fields.json"));
}

QString CStation::FieldsFolder() const {
    return m_port->Option(Key(CSettingsKeys::kFieldsFolder));
}

QString CStation::ChangeFieldsFolder(const QString& folder) {
    m_port->SetOption(Key(CSettingsKeys::kFieldsFolder), folder);
    StartFieldsFolder();
    return m_fieldsFolder ? m_fieldsFolder->Problem() : QString();
}

// The folder goes on across changes of the definitions with what it knows of its files: what it
// wrote there, and what it has already said of what it found.
void CStation::StartFieldsFolder() {
    const QString folder = FieldsFolder();
    if (folder.isEmpty() || m_fields->Definitions().m_fields.empty())
        m_fieldsFolder.reset();
    else if (!m_fieldsFolder || m_fieldsFolder->Folder() != folder)
        m_fieldsFolder = std::make_unique<CFieldsFolder>(
            folder, *m_fields, [](const QString& message) { CTerminalPort::ShowMessage(message); });
}

// Empty definitions are published too, so the broker does not keep old ones.
void CStation::FeedPublisher() {
    QObject::disconnect(m_fieldsToPublisher);
    m_fields->LetGo(this);
    auto* publisher = m_port->FindListener<CMqttPublisher>();
    if (!publisher)
        return;
    publisher->PublishFields(m_fields->Json());
    if (m_fields->Definitions().IsEmpty())
        return;
    m_fields->Take(this);
    m_fieldsToPublisher =
        QObject::connect(m_fields.get(), &CFieldsFeed::Changed,
                         [this, publisher] { publisher->PublishFields(m_fields->Json()); });
}

void CStation::StartJournal() {
    if (m_port->Option(Key(CSettingsKeys::kJournal), QStringLiteral("on")) != QLatin1String("on")) {
        m_port->SetNotes({QStringLiteral("Journal: off")});
        return;
    }
    CJournal::Settings settings;
    settings.m_folder = JournalFolder();
    settings.m_days = Number(CSettingsKeys::kJournalDays);
    settings.m_maxBytes = qint64(Number(CSettingsKeys::kJournalMaxMb)) * 1024 * 1024;
    const int hours = Number(CSettingsKeys::kRestoreHours);
    m_restoredFrom =
        CJournalFolder(settings.m_folder).Restore(*m_port, hours, QDateTime::currentDateTime());
    // The restored screen came without the line: its readers hear of it all the same.
    m_clock->Changes().Gather();
    m_port->AddListener([&] { return std::make_unique<CJournal>(std::move(settings), *m_port); });
}

int CStation::Number(const char* key) const {
    return CSettingsKeys::Number(key, m_port->Option(Key(key)));
}

QString CStation::Publish() {
    const QString setting = m_port->Option(Key(CSettingsKeys::kPublish)).trimmed();
    QObject::disconnect(m_fieldsToPublisher);
    // The old one first: its "offline" must not follow the new one's "online" on the same topic.
    m_port->TakeListeners([](const CLineListener& listener) {
        return dynamic_cast<const CMqttPublisher*>(&listener) != nullptr;
    });
    if (setting.isEmpty() || setting == QLatin1String("off")) {
        FeedPublisher();
        return {};
    }
    QString problem;
    const CMqttAddress address = CMqttAddress::Parse(setting, problem);
    const int maxPacket = Number(CSettingsKeys::kPublishMaxPacket);
    if (problem.isEmpty())
        m_port->AddListener([&] {
            return std::make_unique<CMqttPublisher>(address, *m_port, CMqttPublisher::kMaxBacklog,
                                                    maxPacket);
        });
    FeedPublisher();
    return problem;
}

QString CStation::ChangePublish(const QString& setting) {
    const QString wanted = setting.trimmed().isEmpty() ? QStringLiteral("off") : setting.trimmed();
    QString problem;
    if (wanted != QLatin1String("off"))
        CMqttAddress::Parse(wanted, problem);
    if (!problem.isEmpty())
        return problem;
    const QString key = Key(CSettingsKeys::kPublish);
    if (wanted == m_port->Option(key, QStringLiteral("off")).trimmed())
        return {};
    m_port->SetOption(key, wanted);
    return Publish();
}

// A code made here is kept in the settings, so the address given out (the relay's log, the Share
// window) is the one served.
bool CStation::StartSharing() {
    const CShareConfig config = CShareConfig::Load(*m_port);
    if (!config.m_on)
        return true;
    // A code made up for want of one in the settings is kept there, so that every address the
    // windows and the relay's log give is the one served, now and after a restart.
    m_port->SetOption(Key(CSettingsKeys::kShareCode), config.m_code);
    m_share->SetJournalFolder(JournalFolder());
    return m_share->Start(config);
}

QString CStation::JournalFolder() const {
    const QString folder = m_port->Option(Key(CSettingsKeys::kJournalFolder));
    if (!folder.isEmpty())
        return folder;
    return QFileInfo(m_port->SettingsPath())
        .dir()
        .filePath(QLatin1String(CJournalFolder::kFolderName));
}

CJournal* CStation::Journal() const {
    return m_port->FindListener<CJournal>();
}

QStringList CStation::StateLines() const {
    QStringList lines = m_port->LineStatus();
    lines << m_port->StateLines() << m_share->ViewersLine();
    if (const CFieldDefinitions& fields = m_fields->Definitions(); !fields.IsEmpty())
        lines << QStringLiteral("Fields from %1: fields %2, tables %3")
                     .arg(QDir::toNativeSeparators(FieldsFile()))
                     .arg(fields.m_fields.size())
                     .arg(fields.m_tables.size());
    if (m_fieldsFolder && !m_fieldsFolder->Problem().isEmpty())
        lines << QStringLiteral("Fields folder: %1").arg(m_fieldsFolder->Problem());
    lines.removeAll(QString());
    return lines;
}
