// The fields of a real line, through the real relay: every output (the files of the web view,
// its event stream, the broker, the text folder, the page's cards) holds the cells of the
// screen, read by parsers of other programs.
#include "CFieldsFeed.h"
#include "CFieldsFolder.h"
#include "CHeadlessBrowser.h"
#include "CMosquitto.h"
#include "CMqttClient.h"
#include "CRelayProcess.h"
#include "PortTestSupport.h"
#include "PtyPair.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace {

const QString kCode = QStringLiteral("feedscard2");

std::string At(int row, int column) {
    return "\x1b"
           "a" +
           std::to_string(row) + "R" + std::to_string(column) + "C";
}

// Wide rows, so that the last columns can be written.
const std::string kWide = "\x1b`;";

// Fields over Windows-1252 high bytes, control pictures, a NUL, the last column and row, one
// field on a page of its own, and a table with a value CSV must quote and a blank row.
const QByteArray kDefinitions = R"({"version": 1, "fields": [
    {"name": "high", "row": 1, "column": 1, "width": 10},
    {"name": "control", "row": 2, "column": 1, "width": 10},
    {"name": "nul", "row": 3, "column": 1, "width": 10},
    {"name": "corner", "row": 41, "column": 128, "width": 5, "height": 2},
    {"name": "shots", "row": 6, "column": 1, "width": 3,
     "when": {"row": 5, "column": 1, "text": "SHOTS"}}],
  "tables": [{"name": "lineup", "first_row": 8, "last_row": 9,
              "columns": [{"name": "no", "column": 1, "width": 3},
                          {"name": "who", "column": 5, "width": 6}]}]})";

std::string Stream() {
    return kWide + At(1, 1) + "\x80 caf\xe9 \x99" + At(2, 1) + "\x01\x1f\x7f" + At(3, 1) +
           std::string("ab\0cd", 5) + At(41, 130) + "x" + At(42, 128) + "y" + At(42, 132) + "z" +
           At(5, 1) + "SHOTS" + At(6, 1) + "12" + At(8, 1) + "7" + At(8, 5) + "x,\"y";
}

const QJsonObject kFields{{"high", QStringLiteral("\u20ac caf\u00e9 \u2122")},
                          {"control", QStringLiteral("\u263a\u25bc\u2302")},
                          {"nul", "ab"},
                          {"corner", "x\ny   z"},
                          {"shots", "12"}};
const QJsonArray kLineup{QJsonObject{{"no", "7"}, {"who", "x,\"y"}},
                         QJsonObject{{"no", ""}, {"who", ""}}};

QJsonObject Event(const QJsonObject& fields, bool shotsCurrent) {
    QJsonObject current;
    for (const QString& name : fields.keys())
        current.insert(name, name != QLatin1String("shots") || shotsCurrent);
    current.insert("lineup", true);
    QJsonObject labels;
    for (const QString& name : current.keys())
        labels.insert(name, name);
    return {{"fields", fields},
            {"tables", QJsonObject{{"lineup", kLineup}}},
            {"current", current},
            {"labels", labels}};
}

QJsonObject Parsed(const QByteArray& json) {
    return QJsonDocument::fromJson(json).object();
}

// tallyview-relay on a pseudo-terminal, sharing on loopback, its fields from a file.
class CFieldsRelay {
public:
    explicit CFieldsRelay(const QByteArray& definitions, const QStringList& options = {})
        : m_fieldsFile(Written(m_dir.filePath(QStringLiteral("fields.json")), definitions)),
          m_relay(QStringLiteral(TALLYVIEW_RELAY),
                  QStringList{"--device", QString::fromStdString(m_pty.SlavePath()), "--no-journal",
                              "--share", QString::number(m_port), "--share-code", kCode, "--fields",
                              m_fieldsFile} +
                      options,
                  m_dir.path()) {}

    bool WaitOpen() { return WaitLogged(": open"); }
    bool WaitLogged(const QByteArray& text) { return m_relay.Logged(text); }
    QString Url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1%2?code=%3").arg(m_port).arg(path, kCode);
    }
    QByteArray Get(const QString& path) {
        QNetworkAccessManager manager;
        std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(QUrl(Url(path)))));
        WaitUntil([&] { return reply->isFinished(); }, 10000);
        return reply->readAll();
    }
    void Write(const std::string& bytes) { m_pty.Write(bytes); }
    QString Path(const QString& name) const { return m_dir.filePath(name); }
    const QString& FieldsFile() const { return m_fieldsFile; }
    const QByteArray& Log() const { return m_relay.Log(); }
    quint16 Port() const { return m_port; }

private:
    // Null bytes: no file.
    static QString Written(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        if (!bytes.isNull() && file.open(QIODevice::WriteOnly))
            file.write(bytes);
        return path;
    }

    QTemporaryDir m_dir;
    PtyPair m_pty;
    quint16 m_port = FreeTcpPort();
    QString m_fieldsFile;
    CRelayProcess m_relay;
};

// The event stream as a graphics page's EventSource reads it.
class CEventReader {
public:
    explicit CEventReader(const CFieldsRelay& relay) {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), relay.Port());
        m_socket.write(QStringLiteral("GET /fields/events?code=%1 HTTP/1.1\r\nHost: x\r\n"
                                      "Accept: text/event-stream\r\n\r\n")
                           .arg(kCode)
                           .toLatin1());
    }
    // The data of the next event; empty when none came in time.
    QJsonObject Next() {
        QJsonObject event;
        WaitUntil(
            [&] {
                m_buffer += m_socket.readAll();
                for (qsizetype end; (end = m_buffer.indexOf("\n\n")) >= 0;) {
                    const QByteArray block = m_buffer.left(end);
                    m_buffer.remove(0, end + 2);
                    m_head += block.startsWith("HTTP/") ? block : QByteArray();
                    if (const qsizetype data = block.indexOf("data: "); data >= 0) {
                        m_data = block.mid(data + 6);
                        return !(event = Parsed(m_data)).isEmpty();
                    }
                }
                return false;
            },
            10000);
        return event;
    }
    // The next event that satisfies `done`.
    QJsonObject NextWhere(const std::function<bool(const QJsonObject&)>& done) {
        for (QJsonObject event = Next(); !event.isEmpty(); event = Next())
            if (done(event))
                return event;
        return {};
    }
    const QByteArray& Head() const { return m_head; }
    // The last event's data as sent.
    const QByteArray& Data() const { return m_data; }

private:
    QTcpSocket m_socket;
    QByteArray m_data;
    QByteArray m_buffer;
    QByteArray m_head;
};

// What Python's own parsers make of the files a vMix data source polls: the JSON array of
// objects, the XML rows and the CSV rows.
QJsonObject ReadByPython(CFieldsRelay& relay) {
    QStringList files;
    for (const char* path : {"/fields.json", "/fields.xml", "/fields.csv", "/tables/lineup.xml",
                             "/tables/lineup.csv"}) {
        files << relay.Path(QString::number(files.size()));
        QFile file(files.last());
        if (file.open(QIODevice::WriteOnly))
            file.write(relay.Get(QLatin1String(path)));
    }
    QProcess process;
    process.start(QStringLiteral("python3"), QStringList{"-c", R"(
import csv, json, sys, xml.etree.ElementTree as ET
def text(i): return open(sys.argv[i], encoding="utf-8", newline="").read()
def rows(root): return [{c.tag: c.text or "" for c in row} for row in root.iter("row")]
table = ET.fromstring(text(4))
print(json.dumps({"json": json.loads(text(1)), "xml": rows(ET.fromstring(text(2))),
                  "csv": list(csv.DictReader(text(3).splitlines(True))),
                  "table": table.get("name"), "table_xml": rows(table),
                  "table_csv": list(csv.DictReader(text(5).splitlines(True)))}))
)"} + files);
    process.waitForFinished(20000);
    return Parsed(process.readAllStandardOutput());
}

QString FileText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QStringLiteral("?");
}

TEST(FieldsOutputs, HoldTheScreenCellsEverywhereAndFollowTheirPage) {
    CMosquitto broker;
    ASSERT_TRUE(broker.Start());
    QTemporaryDir folder;
    CFieldsRelay relay(kDefinitions, {"--publish", broker.Url(QStringLiteral("hall")),
                                      "--fields-folder", folder.path()});
    ASSERT_TRUE(relay.WaitOpen()) << relay.Log().toStdString();
    relay.Write(Stream());
    const QJsonArray expected{kFields};
    ASSERT_TRUE(WaitUntil(
        [&] { return QJsonDocument::fromJson(relay.Get("/fields.json")).array() == expected; }));

    const QJsonObject python = ReadByPython(relay);
    EXPECT_EQ(python["json"].toArray(), expected);
    EXPECT_EQ(python["xml"].toArray(), expected);
    EXPECT_EQ(python["csv"].toArray(), expected);
    EXPECT_EQ(python["table"].toString(), "lineup");
    EXPECT_EQ(python["table_xml"].toArray(), kLineup);
    EXPECT_EQ(python["table_csv"].toArray(), kLineup);
    EXPECT_EQ(QJsonDocument::fromJson(relay.Get("/tables/lineup.json")).array(), kLineup);
    for (const QString& name : kFields.keys())
        EXPECT_EQ(FileText(QDir(folder.path()).filePath(name + ".txt")), kFields[name].toString())
            << name.toStdString();

    // Connected late: everything at once.
    CEventReader events(relay);
    EXPECT_EQ(events.Next(), Event(kFields, true));
    EXPECT_TRUE(events.Head().contains("Content-Type: text/event-stream")) << events.Head().data();
    QJsonObject published;
    QString problem;
    CMqttClient subscriber(CMqttAddress::Parse(broker.Url(QStringLiteral("hall")), problem));
    subscriber.SetSubscriptions({QByteArrayLiteral("hall/fields")});
    QObject::connect(
        &subscriber, &CMqttClient::Received,
        [&](const QByteArray&, const QByteArray& payload) { published = Parsed(payload); });
    subscriber.Start();
    EXPECT_TRUE(WaitUntil([&] { return published == Event(kFields, true); }, 10000));

    // Another page: the value stays, no longer current.
    relay.Write(At(5, 1) + "GOALS" + At(6, 1) + "3  ");
    EXPECT_EQ(
        events.NextWhere([](const QJsonObject& e) { return !e["current"]["shots"].toBool(); }),
        Event(kFields, false));
    EXPECT_TRUE(WaitUntil([&] { return published == Event(kFields, false); }, 10000));
    // Its own page again: the new value.
    relay.Write(At(5, 1) + "SHOTS" + At(6, 1) + "15 ");
    QJsonObject fields = kFields;
    fields["shots"] = "15";
    EXPECT_EQ(events.NextWhere([](const QJsonObject& e) { return e["current"]["shots"].toBool(); }),
              Event(fields, true));
    EXPECT_TRUE(WaitUntil([&] { return published == Event(fields, true); }, 10000));
    EXPECT_TRUE(
        WaitUntil([&] { return FileText(QDir(folder.path()).filePath("shots.txt")) == "15"; }));
}

// A phone in the press box: every value on a card of its own, legible.
TEST(FieldsOutputs, PageShowsEachValueOnALegibleCardOnAPhone) {
    if (QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty())
        GTEST_SKIP() << "chromium is not installed";
    CFieldsRelay relay(kDefinitions);
    ASSERT_TRUE(relay.WaitOpen()) << relay.Log().toStdString();
    relay.Write(Stream());
    CHeadlessBrowser browser;
    ASSERT_TRUE(browser.Open(relay.Url("/"))) << browser.Error().toStdString();
    browser.SetViewport(390, 844);
    ASSERT_TRUE(browser.WaitFor(
        "document.querySelector('[data-field=\"corner\"]')?.textContent === 'x\\ny   z'", 60000))
        << browser.Evaluate("document.querySelector('#fields').outerHTML").toString().toStdString()
        << relay.Log().toStdString();
    const QJsonObject cards =
        browser
            .Evaluate("Object.fromEntries([...document.querySelectorAll('[data-field]')].map("
                      "e => [e.dataset.field, {text: e.textContent, "
                      "height: e.getBoundingClientRect().height, "
                      "inside: e.getBoundingClientRect().right <= innerWidth}]))")
            .toObject();
    EXPECT_EQ(cards.keys(), kFields.keys());
    for (const QString& name : kFields.keys()) {
        const QJsonObject card = cards[name].toObject();
        EXPECT_EQ(card["text"].toString(), kFields[name].toString()) << name.toStdString();
        EXPECT_GE(card["height"].toDouble(), 16) << name.toStdString();
        EXPECT_TRUE(card["inside"].toBool()) << name.toStdString();
    }
    QFile shot(QDir(QStringLiteral(TALLYVIEW_TEST_OUTPUT)).filePath("fields-phone.png"));
    if (shot.open(QIODevice::WriteOnly))
        shot.write(browser.ScreenshotPng());
}

// Labels, and every output in the file's order, not the names' (a JSON parser keeps it too).
TEST(FieldsOutputs, FollowTheFileOrderAndGiveLabels) {
    CFieldsRelay relay(R"({"version": 1, "fields": [
        {"name": "zulu", "row": 1, "column": 1, "width": 4, "label": "Home score"},
        {"name": "alpha", "row": 1, "column": 6, "width": 4}],
      "tables": [{"name": "players", "first_row": 2, "last_row": 2, "label": "Home <players>",
                  "columns": [{"name": "pts", "column": 1, "width": 2},
                              {"name": "name", "column": 4, "width": 5}]}]})");
    ASSERT_TRUE(relay.WaitOpen()) << relay.Log().toStdString();
    relay.Write(At(1, 1) + "ZZ   AA" + At(2, 1) + "12 Smith");
    ASSERT_TRUE(WaitUntil([&] {
        return relay.Get("/fields.json") == R"([{"zulu":"ZZ","alpha":"AA"}])";
    })) << relay.Get("/fields.json").toStdString();
    EXPECT_EQ(relay.Get("/fields.csv"), "zulu,alpha\r\nZZ,AA\r\n");
    EXPECT_TRUE(relay.Get("/fields.xml").contains("<row><zulu>ZZ</zulu><alpha>AA</alpha></row>"));
    EXPECT_EQ(relay.Get("/tables/players.json"), R"([{"pts":"12","name":"Smith"}])");
    EXPECT_EQ(relay.Get("/tables/players.csv"), "pts,name\r\n12,Smith\r\n");
    EXPECT_TRUE(
        relay.Get("/tables/players.xml")
            .contains(R"(<table name="players" label="Home &lt;players&gt;"><row><pts>12</pts>)"
                      R"(<name>Smith</name></row></table>)"))
        << relay.Get("/tables/players.xml").toStdString();
    CEventReader events(relay);
    EXPECT_FALSE(events.Next().isEmpty());
    EXPECT_EQ(events.Data(), R"({"fields":{"zulu":"ZZ","alpha":"AA"},)"
                             R"("tables":{"players":[{"pts":"12","name":"Smith"}]},)"
                             R"("current":{"zulu":true,"alpha":true,"players":true},)"
                             R"("labels":{"zulu":"Home score","alpha":"alpha",)"
                             R"("players":"Home <players>"}})");
}

void Replace(const QString& path, const QByteArray& bytes, bool byRename) {
    const QString written = byRename ? path + QStringLiteral(".new") : path;
    QFile file(written);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
    file.close();
    if (byRename) {
        ASSERT_EQ(::rename(QFile::encodeName(written), QFile::encodeName(path)), 0);
    }
}

QByteArray OneField(const char* name, const char* extra = "") {
    return QStringLiteral(R"({"version": 1, "fields": [{"name": "%1", "row": 1, "column": 1,
                             "width": 4%2}]})")
        .arg(QLatin1String(name), QLatin1String(extra))
        .toUtf8();
}

// A hand edit saved by rename, then one written in place, are served at once; one that breaks
// a rule is said once, and the fields before it are still served.
TEST(FieldsOutputs, FollowHandEditsOfTheFile) {
    CFieldsRelay relay(OneField("home"));
    ASSERT_TRUE(relay.WaitOpen()) << relay.Log().toStdString();
    relay.Write(At(1, 1) + "12");
    const auto served = [&](const QByteArray& json) {
        return WaitUntil([&] { return relay.Get("/fields.json") == json; });
    };
    ASSERT_TRUE(served(R"([{"home":"12"}])"));
    Replace(relay.FieldsFile(), OneField("score"), true);
    EXPECT_TRUE(served(R"([{"score":"12"}])")) << relay.Log().toStdString();
    Replace(relay.FieldsFile(), OneField("goals"), false);
    EXPECT_TRUE(served(R"([{"goals":"12"}])")) << relay.Log().toStdString();

    Replace(relay.FieldsFile(), OneField("goals", R"(, "height": 50)"), false);
    const QByteArray refusal = QStringLiteral("The fields file %1 is not used: field \"goals\"")
                                   .arg(relay.FieldsFile())
                                   .toUtf8();
    EXPECT_TRUE(relay.WaitLogged(refusal)) << relay.Log().toStdString();
    EXPECT_EQ(relay.Get("/fields.json"), R"([{"goals":"12"}])");
    Replace(relay.FieldsFile(), OneField("home", R"(, "label": "Home")"), true);
    EXPECT_TRUE(served(R"([{"home":"12"}])")) << relay.Log().toStdString();
    EXPECT_EQ(relay.Log().count(refusal), 1) << relay.Log().toStdString();
}

// A file named on purpose and not there is said once, by name, and taken up once it is made.
TEST(FieldsOutputs, NamedFileMissingIsSaidAndTakenUpWhenMade) {
    CFieldsRelay relay{QByteArray()};
    ASSERT_TRUE(relay.WaitOpen()) << relay.Log().toStdString();
    const QByteArray said =
        QStringLiteral("The fields file %1 does not exist").arg(relay.FieldsFile()).toUtf8();
    EXPECT_EQ(relay.Log().count(said), 1) << relay.Log().toStdString();
    relay.Write(At(1, 1) + "12");
    Replace(relay.FieldsFile(), OneField("home"), true);
    EXPECT_TRUE(WaitUntil([&] { return relay.Get("/fields.json") == R"([{"home":"12"}])"; }))
        << relay.Log().toStdString();
}

struct BadFile {
    const char* m_json;
    const char* m_problem;
};

class FieldsBadFile : public ::testing::TestWithParam<BadFile> {};

// The operator hears what is wrong and where; the relay goes on without fields, and the file
// stays exactly as it was for the operator to mend.
TEST_P(FieldsBadFile, IsReportedAndLeftAsItIs) {
    CFieldsRelay relay(GetParam().m_json);
    ASSERT_TRUE(relay.WaitOpen()) << relay.Log().toStdString();
    EXPECT_TRUE(
        relay.Log().contains(QStringLiteral("The fields file %1 is not used: %2")
                                 .arg(relay.FieldsFile(), QLatin1String(GetParam().m_problem))
                                 .toUtf8()))
        << relay.Log().toStdString();
    EXPECT_EQ(relay.Get("/fields.json"), "[{}]");
    QFile file(relay.FieldsFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray(GetParam().m_json));
}

INSTANTIATE_TEST_SUITE_P(
    Files, FieldsBadFile,
    ::testing::Values(
        BadFile{R"({"version": 1, "fields": [{"name": "a", "row": 1)", "at byte"},
        BadFile{R"({"version": 1, "fields": [{"name": "a", "row": 1, "column": 1, "width": 2},
                   {"name": "a", "row": 2, "column": 1, "width": 2}]})",
                "field \"a\": the name is used twice"},
        BadFile{R"({"version": 1, "fields": [{"name": "a", "row": 42, "column": 1, "width": 2,
                   "height": 2}]})",
                "field \"a\": \"height\" 2 goes past row 42"},
        BadFile{R"({"version": 1, "fields": [{"name": "a\nThe fields file", "row": 1,
                   "column": 1, "width": 2}]})",
                R"(field "a\nThe fields file": a name)"}));

ino_t Inode(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// Graphics programs poll the files: a reader never finds one empty or half-written, and a file
// whose value stays is not touched.
TEST(FieldsFolder, ReplacesEachFileWholeAndOnlyOnAChange) {
    CFieldDefinitions definitions;
    definitions.m_fields.push_back({"page", 1, 1, 132, 40, {}});
    definitions.m_fields.push_back({"title", 42, 1, 10, 1, {}});
    CTerminalScreen screen;
    CFieldsFeed feed(screen, [] { return true; });
    feed.SetDefinitions(definitions);
    const auto page = [](char c) {
        return QStringList(40, QString(132, QLatin1Char(c))).join(QLatin1Char('\n')).toStdString();
    };
    const auto show = [&](char c) {
        screen.ReceiveBytes(kWide + At(1, 1) + std::string(40 * 132, c) + At(42, 1) + "Final");
    };
    show('a');
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("page.txt"));
    const QString title = dir.filePath(QStringLiteral("title.txt"));
    CFieldsFolder folder(dir.path(), feed);
    const ino_t titleInode = Inode(title);
    std::set<std::string> values{page('a')};
    for (char c = 'b'; c <= 'z'; ++c)
        values.insert(page(c));
    std::atomic<bool> stop = false;
    std::atomic<int> reads = 0;
    std::atomic<int> torn = 0;
    std::thread reader([&] {
        while (!stop) {
            std::ifstream in(path.toStdString(), std::ios::binary);
            std::ostringstream text;
            text << in.rdbuf();
            ++reads;
            torn += values.contains(text.str()) ? 0 : 1;
        }
    });
    for (char c = 'b'; c <= 'z'; ++c) {
        show(c);
        EXPECT_TRUE(WaitUntil([&] { return FileText(path).toStdString() == page(c); }));
    }
    stop = true;
    reader.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(FileText(title), "Final");
    EXPECT_EQ(Inode(title), titleInode);
    EXPECT_TRUE(folder.Problem().isEmpty()) << folder.Problem().toStdString();
}

} // namespace
