// The fields of a real line, through the real relay: every output (the files of the web view,
// its event stream, the broker, the text folder, the page's cards) holds the cells of the
// screen, read by parsers of other programs.
#include "CFieldsFeed.h"
#include "CFieldsFolder.h"
#include "CHeadlessBrowser.h"
#include "CModalAnswerer.h"
#include "CMosquitto.h"
#include "CMqttClient.h"
#include "CRelayProcess.h"
#include "CScreenClock.h"
#include "CStation.h"
#include "PortTestSupport.h"
#include "PtyPair.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
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
// field on a page of its own, and a table with a value CSV must quote and markup must not
// take, and a name too long for a phone's line.
const QByteArray kDefinitions = R"({"version": 1, "fields": [
    {"name": "high", "row": 1, "column": 1, "width": 10},
    {"name": "control", "row": 2, "column": 1, "width": 10},
    {"name": "nul", "row": 3, "column": 1, "width": 10},
    {"name": "corner", "row": 41, "column": 128, "width": 5, "height": 2},
    {"name": "shots", "row": 6, "column": 1, "width": 3,
     "when": {"row": 5, "column": 1, "text": "SHOTS"}}],
  "tables": [{"name": "lineup", "first_row": 8, "last_row": 9,
              "columns": [{"name": "no", "column": 1, "width": 3},
                          {"name": "who", "column": 5, "width": 61}]}]})";

const char kLongName[] = "Wolfeschlegelsteinhausenbergerdorffvoralternwarengewissenhaft";

std::string Stream() {
    return kWide + At(1, 1) + "\x80 caf\xe9 \x99" + At(2, 1) + "\x01\x1f\x7f" + At(3, 1) +
           std::string("ab\0cd", 5) + At(41, 130) + "x" + At(42, 128) + "y" + At(42, 132) + "z" +
           At(5, 1) + "SHOTS" + At(6, 1) + "12" + At(8, 1) + "7" + At(8, 5) + "<b>x,\"y" +
           At(9, 1) + "12" + At(9, 5) + kLongName;
}

const QJsonObject kFields{{"high", QStringLiteral("\u20ac caf\u00e9 \u2122")},
                          {"control", QStringLiteral("\u263a\u25bc\u2302")},
                          {"nul", "ab"},
                          {"corner", "x\ny   z"},
                          {"shots", "12"}};
const QJsonArray kLineup{QJsonObject{{"no", "7"}, {"who", "<b>x,\"y"}},
                         QJsonObject{{"no", "12"}, {"who", kLongName}}};

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
          m_options(options) {
        Restart(kCode);
    }

    // Stops the relay and starts another on the same line, port and fields, with this code.
    void Restart(const QString& code) {
        m_relay.reset();
        m_relay = std::make_unique<CRelayProcess>(
            QStringLiteral(TALLYVIEW_RELAY),
            QStringList{"--device", QString::fromStdString(m_pty.SlavePath()), "--no-journal",
                        "--share", QString::number(m_port), "--share-code", code, "--fields",
                        m_fieldsFile} +
                m_options,
            m_dir.path());
    }

    bool WaitOpen() { return WaitLogged(": open"); }
    bool WaitLogged(const QByteArray& text) { return m_relay->Logged(text); }
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
    const QByteArray& Log() const { return m_relay->Log(); }
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
    QStringList m_options;
    std::unique_ptr<CRelayProcess> m_relay;
};

// The event stream as a graphics page's EventSource reads it.
class CEventReader {
public:
    explicit CEventReader(const CFieldsRelay& relay, const QString& query = {}) {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), relay.Port());
        m_socket.write(QStringLiteral("GET /fields/events?code=%1%2 HTTP/1.1\r\nHost: x\r\n"
                                      "Accept: text/event-stream\r\n\r\n")
                           .arg(kCode, query)
                           .toLatin1());
    }
    // The data of the next event without its time of the change (Time()); empty when none came
    // in time.
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
                        event = Parsed(m_data);
                        m_time = event.take(QStringLiteral("time")).toDouble(-1);
                        return !event.isEmpty();
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
    // The last event's time of the change, -1 when it had none.
    double Time() const { return m_time; }

private:
    QTcpSocket m_socket;
    double m_time = -1;
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

// The README's HTML template for graphics, made to run in the page at `url`: its element
// added, its script in a scope of its own, showing the field `name`.
QString ReadmeTemplate(const QString& url, const QString& name) {
    QFile readme(QStringLiteral(TALLYVIEW_README));
    if (!readme.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression snippet(
        QStringLiteral("\\*\\*HTML templates\\*\\*.*?```html\n(.*?)<script>(.*?)</script>"),
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = snippet.match(QString::fromUtf8(readme.readAll()));
    QString script = match.captured(2);
    script.replace(QStringLiteral("http://ADDRESS:8132/fields/events?code=CODE"), url)
        .replace(QRegularExpression(QStringLiteral("data\\.fields\\.\\w+")),
                 QStringLiteral("data.fields.") + name);
    return QStringLiteral("document.body.insertAdjacentHTML('afterbegin', %1); (() => {%2})();")
        .arg(QString::fromUtf8(QJsonDocument(QJsonArray{match.captured(1).trimmed()})
                                   .toJson(QJsonDocument::Compact))
                 .mid(1)
                 .chopped(1),
             script);
}

// A browser gives up on an event stream the program answered with anything but 200 (a relay
// started meanwhile with another code answers 403, a full one 503): the page, and the README's
// template for graphics, keep trying and show the values, and the page its screen, once they
// are let in again.
TEST(FieldsOutputs, PageAndTemplateKeepTryingAfterTheirStreamWasRefused) {
    if (QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty())
        GTEST_SKIP() << "chromium is not installed";
    CFieldsRelay relay(kDefinitions);
    ASSERT_TRUE(relay.WaitOpen()) << relay.Log().toStdString();
    relay.Write(Stream());
    CHeadlessBrowser browser;
    ASSERT_TRUE(browser.Open(relay.Url("/"))) << browser.Error().toStdString();
    const QString shots = QStringLiteral("document.querySelector('[data-field=\"shots\"]')"
                                         "?.textContent === '%1'");
    const QString fromTemplate =
        QStringLiteral("document.querySelector('#score')?.textContent === '%1'");
    const QString script = ReadmeTemplate(relay.Url("/fields/events"), QStringLiteral("shots"));
    ASSERT_TRUE(script.contains(QLatin1String("EventSource"))) << script.toStdString();
    ASSERT_TRUE(browser.WaitFor(shots.arg("12"), 60000));
    browser.Evaluate(script);
    ASSERT_TRUE(browser.WaitFor(fromTemplate.arg("12"))) << script.toStdString();
    browser.WatchResponses();

    relay.Restart(QStringLiteral("feedscard3"));
    ASSERT_TRUE(relay.WaitOpen()) << relay.Log().toStdString();
    ASSERT_TRUE(WaitUntil(
        [&] { return browser.ResponseStatuses(QStringLiteral("/fields/events")).count(403) >= 2; },
        60000));
    relay.Restart(kCode);
    ASSERT_TRUE(relay.WaitOpen()) << relay.Log().toStdString();
    relay.Write(Stream() + At(6, 1) + "15");
    EXPECT_TRUE(browser.WaitFor(shots.arg("15"), 90000)) << relay.Log().toStdString();
    EXPECT_TRUE(browser.WaitFor(fromTemplate.arg("15"), 60000));
    EXPECT_TRUE(browser.WaitFor(
        QStringLiteral("document.querySelector('[data-row=\"5\"]').textContent.startsWith('15')")));
}

// Each table as the page shows it, and whether it is laid out for a phone: inside the width,
// no text under 14 px, a short value on one line, under the cards and above the screen.
const QString kTableOnPage = QStringLiteral(R"((() => {
    const table = document.querySelector('[data-table="lineup"]');
    const box = table.getBoundingClientRect();
    const texts = (cells) => [...cells].map((e) => e.textContent);
    return {caption: table.caption.textContent,
            head: texts(table.tHead.rows[0].cells),
            rows: [...table.tBodies[0].rows].map((row) => texts(row.cells)),
            fits: box.left >= 0 && box.right <= innerWidth,
            smallest: Math.min(...[...table.querySelectorAll('caption, th, td')].map(
                (e) => parseFloat(getComputedStyle(e).fontSize))),
            shortBroken: [...table.querySelectorAll('th, td')].filter((e) => {
                const lines = document.createRange();
                lines.selectNodeContents(e);
                return e.textContent.length <= 3 && lines.getClientRects().length > 1;
            }).length,
            placed: document.querySelector('#fields').getBoundingClientRect().bottom <= box.top &&
                    box.bottom <= document.querySelector('#screen').getBoundingClientRect().top};
})())");

// A phone in the press box: every value on a card of its own, legible, in the order the program
// lists them; each table below them, fitting the phone's width.
TEST(FieldsOutputs, PageShowsEachValueOnALegibleCardOnAPhone) {
    if (QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty())
        GTEST_SKIP() << "chromium is not installed";
    CFieldsRelay relay(
        QByteArray(kDefinitions)
            .replace(R"("name": "shots",)", R"("name": "shots", "label": "Shots on goal",)")
            .replace(R"("name": "lineup",)", R"("name": "lineup", "label": "Line-up",)"));
    ASSERT_TRUE(relay.WaitOpen()) << relay.Log().toStdString();
    relay.Write(Stream());
    // Each name's label as the program gives it, or the name when it gives none.
    const QJsonObject labels = CEventReader(relay).Next()["labels"].toObject();
    const auto label = [&](const QString& name) { return labels[name].toString(name); };
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
                      "label: e.parentElement.querySelector('.name').textContent, "
                      "height: e.getBoundingClientRect().height, "
                      "inside: e.getBoundingClientRect().right <= innerWidth}]))")
            .toObject();
    EXPECT_EQ(cards.keys(), kFields.keys());
    for (const QString& name : kFields.keys()) {
        const QJsonObject card = cards[name].toObject();
        EXPECT_EQ(card["text"].toString(), kFields[name].toString()) << name.toStdString();
        EXPECT_EQ(card["label"].toString(), label(name));
        EXPECT_GE(card["height"].toDouble(), 16) << name.toStdString();
        EXPECT_TRUE(card["inside"].toBool()) << name.toStdString();
    }
    browser.Evaluate(QStringLiteral("fetch('/fields.json' + location.search).then((r) => r.json())"
                                    ".then((a) => { window.listed = Object.keys(a[0]); })"));
    ASSERT_TRUE(browser.WaitFor(QStringLiteral("window.listed !== undefined")));
    EXPECT_EQ(browser.Evaluate(QStringLiteral("[...document.querySelectorAll('[data-field]')]"
                                              ".map((e) => e.dataset.field)")),
              browser.Evaluate(QStringLiteral("window.listed")));

    QJsonArray rows;
    for (const QJsonValue& row : kLineup)
        rows.append(QJsonArray{row["no"], row["who"]});
    const QJsonObject table = browser.Evaluate(kTableOnPage).toObject();
    EXPECT_EQ(table["caption"].toString(), label(QStringLiteral("lineup")));
    EXPECT_EQ(table["head"].toArray(), (QJsonArray{"no", "who"}));
    EXPECT_EQ(table["rows"].toArray(), rows);
    EXPECT_TRUE(table["fits"].toBool());
    EXPECT_GE(table["smallest"].toDouble(), 14);
    EXPECT_EQ(table["shortBroken"].toInt(), 0);
    EXPECT_TRUE(table["placed"].toBool());
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
                             R"("players":"Home <players>"},"time":)" +
                                 QByteArray::number(qint64(events.Time())) + "}");
    EXPECT_GT(events.Time(), 0);
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
    CScreenClock clock(screen, [] { return true; });
    CFieldsFeed feed(clock.Changes());
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
    CFieldsFolder folder(dir.path(), feed,
                         [](const QString& message) { ADD_FAILURE() << message.toStdString(); });
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

// What stands at a field's name in a shared folder and is not a file this program wrote.
struct Squatter {
    const char* m_what;
    bool m_beforeStart; // there when the folder starts, or put there after its first write
    std::function<bool(const QString& path, const QString& outside)> m_place;
};

// Whatever else stands at a field's name is left as it is, said once, and that field's file is
// skipped while the others are written: nothing is written through a link to a file outside,
// nothing read from a pipe (start-up would wait for a writer) or a device (/dev/zero has no
// end), and a file another program wrote since is not overwritten.
TEST(FieldsFolder, LeavesWhatItDidNotWriteAndSaysSoOnce) {
    const auto link = [](const QString& path, const QString& outside) {
        return QFile::link(outside, path);
    };
    const Squatter squatters[] = {
        {"a symbolic link", true, link},
        {"a named pipe", true,
         [](const QString& path, const QString&) {
             return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
         }},
        {"a symbolic link", true,
         [=](const QString& path, const QString&) { return link(path, "/dev/zero"); }},
        {"a symbolic link", false, link},
        {"a file changed by another program", false,
         [](const QString& path, const QString&) {
             QFile file(path);
             return file.open(QIODevice::WriteOnly) && file.write("999") == 3;
         }},
    };
    for (const Squatter& squatter : squatters) {
        SCOPED_TRACE(squatter.m_what);
        QTemporaryDir dir;
        QTemporaryDir elsewhere;
        const QString path = dir.filePath(QStringLiteral("score.txt"));
        const QString clock = dir.filePath(QStringLiteral("clock.txt"));
        const QString outside = elsewhere.filePath(QStringLiteral("secret"));
        QFile secret(outside);
        ASSERT_TRUE(secret.open(QIODevice::WriteOnly) && secret.write("keep") == 4);
        secret.close();
        if (squatter.m_beforeStart) {
            ASSERT_TRUE(squatter.m_place(path, outside));
        }

        CFieldDefinitions definitions;
        definitions.m_fields.push_back({"score", 1, 1, 3, 1, {}});
        definitions.m_fields.push_back({"clock", 2, 1, 5, 1, {}});
        CTerminalScreen screen;
        CScreenClock drain(screen, [] { return true; });
        CFieldsFeed feed(drain.Changes());
        feed.SetDefinitions(definitions);
        screen.ReceiveBytes(At(1, 1) + "12" + At(2, 1) + "19:59");
        QStringList said;
        CFieldsFolder folder(dir.path(), feed, [&](const QString& message) { said << message; });
        EXPECT_EQ(FileText(clock), "19:59");
        if (!squatter.m_beforeStart) {
            EXPECT_EQ(FileText(path), "12");
            ASSERT_TRUE(QFile::remove(path) && squatter.m_place(path, outside));
        }
        const QFileInfo before(path);
        for (const auto& [score, time] : {std::pair{"13", "19:58"}, std::pair{"14", "19:57"}}) {
            screen.ReceiveBytes(At(1, 1) + score + At(2, 1) + time);
            EXPECT_TRUE(WaitUntil([&] { return FileText(clock) == QLatin1String(time); }));
        }
        ASSERT_EQ(said.size(), 1) << said.join(u'\n').toStdString();
        EXPECT_TRUE(said[0].contains(squatter.m_what)) << said[0].toStdString();
        EXPECT_TRUE(said[0].contains(path)) << said[0].toStdString();
        const QFileInfo after(path);
        EXPECT_EQ(after.isSymLink(), before.isSymLink());
        EXPECT_EQ(after.lastModified(), before.lastModified());
        EXPECT_EQ(after.size(), before.size());
        EXPECT_EQ(FileText(outside), "keep");
        EXPECT_TRUE(folder.Problem().isEmpty()) << folder.Problem().toStdString();
    }
}

// A change of the definitions (the Fields window, a hand edit) goes on with what the folder knows:
// what stands at a name is said once, not again at every change, and a new field is written.
TEST(FieldsFolder, SaysWhatStandsAtANameOnceAcrossChangesOfTheDefinitions) {
    QTemporaryDir dir;
    const QDir folder(dir.filePath(QStringLiteral("graphics")));
    ASSERT_TRUE(QDir().mkpath(folder.path()));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("elsewhere")),
                            folder.filePath(QStringLiteral("score.txt"))));
    CModalAnswerer answerer({}, CModalAnswerer::Ok);
    CStation station(dir.filePath(QStringLiteral("Tallyview.cfg")));
    station.Port().SetOption(QStringLiteral("fields_folder"), folder.path());
    CFieldDefinitions definitions;
    definitions.m_fields.push_back({"score", 1, 1, 3, 1, {}});
    station.SetFieldDefinitions(definitions);
    definitions.m_fields.push_back({"clock", 2, 1, 5, 1, {}});
    station.SetFieldDefinitions(definitions);
    EXPECT_TRUE(WaitUntil([&] { return folder.exists(QStringLiteral("clock.txt")); }));
    ASSERT_EQ(answerer.Messages().size(), 1) << answerer.Texts().join(u'\n').toStdString();
    EXPECT_TRUE(answerer.Messages().front().m_text.contains(QLatin1String("a symbolic link")));
}

// The sample game's board: its teams, scores, period and clock, and the first row of the home
// players, whose name holds markup.
QByteArray SampleFields() {
    QFile file(QStringLiteral(TALLYVIEW_SAMPLE_FIELDS));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::string Board(const std::string& homeScore) {
    return kWide + At(3, 62) + "CLOCK" + At(3, 2) + "Hawks" + At(3, 21) + homeScore + At(3, 58) +
           "2" + At(3, 68) + "12:34" + At(3, 81) + "Bears" + At(3, 100) + "1" + At(6, 2) +
           "NO NAME" + At(7, 2) + "17" + At(7, 5) + "<b>Li &amp; Wu" + At(7, 23) + "C" + At(7, 25) +
           " 2";
}

QString Text(const QString& selector) {
    return QStringLiteral("document.querySelector('%1')?.textContent").arg(selector);
}

QString Shows(const QString& selector, const QString& text) {
    return QStringLiteral("%1 === %2")
        .arg(Text(selector),
             QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact))
                 .mid(1)
                 .chopped(1));
}

// The sample game's fields on a relay whose board scores 3, for a graphic in a real browser.
class Graphics : public ::testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty())
            GTEST_SKIP() << "chromium is not installed";
        m_relay.emplace(SampleFields());
        ASSERT_TRUE(m_relay->WaitOpen()) << m_relay->Log().toStdString();
        m_relay->Write(Board(" 3"));
    }

    std::optional<CFieldsRelay> m_relay;
};

// Every graphic of the pack, as OBS shows it: the line's values as text (markup too), over
// nothing at 1920x1080 without scroll bars.
TEST_F(Graphics, EachShowsTheLineAsTextOverNothing) {
    CFieldsRelay& relay = *m_relay;
    const struct {
        const char* m_page;
        const char* m_selector;
        const char* m_text;
    } cases[] = {
        {"scorebug", "[data-part=home]", "3"},
        {"clock", "[data-part=clock]", "12:34"},
        {"lower-third", "[data-part=name]", "<b>Li &amp; Wu"},
        {"player-line", "[data-part=name]", "<b>Li &amp; Wu"},
        {"ticker", "[data-list=fields] .item:nth-child(2) .value", "3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_page);
        CHeadlessBrowser browser;
        ASSERT_TRUE(browser.Open(relay.Url(QStringLiteral("/graphics/%1.html").arg(c.m_page))))
            << browser.Error().toStdString();
        browser.SetTransparentFrame(1920, 1080);
        EXPECT_TRUE(browser.WaitFor(Shows(c.m_selector, c.m_text), 30000))
            << browser.Evaluate(Text(c.m_selector)).toString().toStdString();
        EXPECT_TRUE(browser.Evaluate("document.querySelector('b') === null").toBool());
        EXPECT_TRUE(browser
                        .Evaluate("document.documentElement.scrollWidth <= 1920 && "
                                  "document.documentElement.scrollHeight <= 1080")
                        .toBool());
        // Faded in: the corner stays clear, the panel covers what is behind it.
        ASSERT_TRUE(browser.WaitFor("getComputedStyle(document.body).opacity === '1'"));
        const QJsonObject panel =
            browser.Evaluate("document.querySelector('.panel').getBoundingClientRect().toJSON()")
                .toObject();
        const QImage frame = QImage::fromData(browser.ScreenshotPng());
        ASSERT_EQ(frame.size(), QSize(1920, 1080));
        EXPECT_EQ(qAlpha(frame.pixel(0, 0)), 0);
        EXPECT_GT(qAlpha(frame.pixel(panel["left"].toDouble() + 20,
                                     (panel["top"].toDouble() + panel["bottom"].toDouble()) / 2)),
                  200);
    }
}

// The scorebug follows the line, and the host's update() in each form it comes in: a value
// the host set stays until the line changes it.
TEST_F(Graphics, ScorebugFollowsTheLineAndTheHostsUpdates) {
    CFieldsRelay& relay = *m_relay;
    CHeadlessBrowser browser;
    ASSERT_TRUE(browser.Open(relay.Url(QStringLiteral("/graphics/scorebug.html"))))
        << browser.Error().toStdString();
    ASSERT_TRUE(browser.WaitFor(Shows("[data-part=home]", "3"), 30000));
    EXPECT_TRUE(browser.Evaluate(Shows("[data-part=away_name]", "Bears")).toBool());
    relay.Write(At(3, 21) + " 4");
    EXPECT_TRUE(browser.WaitFor(Shows("[data-part=home]", "4")));

    browser.Evaluate(QStringLiteral(
        "update('<templateData><componentData id=\"away\"><data id=\"text\" value=\"&lt;i&gt;9\"/>"
        "</componentData></templateData>')"));
    EXPECT_TRUE(browser.Evaluate(Shows("[data-part=away]", "<i>9")).toBool());
    browser.Evaluate(QStringLiteral("update('{\"clock\": \"00:07\", \"home_team\": \"Owls\"}')"));
    EXPECT_TRUE(browser.Evaluate(Shows("[data-part=clock]", "00:07")).toBool());
    EXPECT_TRUE(browser.Evaluate(Shows("[data-part=home_name]", "Owls")).toBool());
    EXPECT_TRUE(browser.Evaluate("document.querySelector('i') === null").toBool());

    // The line changes the home score only: the host's other values stay.
    relay.Write(At(3, 21) + " 5");
    EXPECT_TRUE(browser.WaitFor(Shows("[data-part=home]", "5")));
    EXPECT_TRUE(browser.Evaluate(Shows("[data-part=clock]", "00:07")).toBool());
    EXPECT_TRUE(browser.Evaluate(Shows("[data-part=away]", "<i>9")).toBool());
}

// The relay stopped, then answering with another code (403), then back: the scorebug keeps its
// values meanwhile and shows the new ones once let in again.
TEST_F(Graphics, ScorebugKeepsItsValuesAndRecoversAfterTheStreamWasRefused) {
    CFieldsRelay& relay = *m_relay;
    CHeadlessBrowser browser;
    ASSERT_TRUE(browser.Open(relay.Url(QStringLiteral("/graphics/scorebug.html"))))
        << browser.Error().toStdString();
    ASSERT_TRUE(browser.WaitFor(Shows("[data-part=home]", "3"), 30000));
    browser.WatchResponses();

    relay.Restart(QStringLiteral("feedscard4"));
    ASSERT_TRUE(relay.WaitOpen()) << relay.Log().toStdString();
    ASSERT_TRUE(WaitUntil(
        [&] { return browser.ResponseStatuses(QStringLiteral("/fields/events")).count(403) >= 2; },
        60000));
    EXPECT_TRUE(browser.Evaluate(Shows("[data-part=home]", "3")).toBool());
    EXPECT_TRUE(browser.Evaluate(Shows("[data-part=clock]", "12:34")).toBool());
    relay.Restart(kCode);
    ASSERT_TRUE(relay.WaitOpen()) << relay.Log().toStdString();
    relay.Write(Board(" 6"));
    EXPECT_TRUE(browser.WaitFor(Shows("[data-part=home]", "6"), 90000))
        << relay.Log().toStdString();
}

// delay= holds each event back: a stream and a graphic asking for 3 s still have the old score
// when an undelayed stream has the new one, then get the same change, with the same time.
TEST_F(Graphics, DelayHoldsEachChangeBackWithItsTime) {
    CFieldsRelay& relay = *m_relay;
    const auto homeIs = [](const char* score) {
        return [score](const QJsonObject& e) { return e["fields"]["home_score"] == score; };
    };
    CEventReader live(relay);
    ASSERT_FALSE(live.NextWhere(homeIs("3")).isEmpty());
    CEventReader delayed(relay, QStringLiteral("&delay=3"));
    ASSERT_FALSE(delayed.NextWhere(homeIs("3")).isEmpty());
    CHeadlessBrowser browser;
    ASSERT_TRUE(browser.Open(relay.Url(QStringLiteral("/graphics/scorebug.html")) +
                             QStringLiteral("&delay=3")))
        << browser.Error().toStdString();
    ASSERT_TRUE(browser.WaitFor(Shows("[data-part=home]", "3"), 30000));

    relay.Write(At(3, 21) + " 4");
    ASSERT_FALSE(live.NextWhere(homeIs("4")).isEmpty());
    const double changed = live.Time();
    EXPECT_TRUE(browser.Evaluate(Shows("[data-part=home]", "3")).toBool());
    // The held-back stream gets that change, with the same time.
    EXPECT_FALSE(delayed.NextWhere(homeIs("4")).isEmpty());
    EXPECT_EQ(delayed.Time(), changed);
    EXPECT_TRUE(browser.WaitFor(Shows("[data-part=home]", "4")));
}

// A CasparCG template loaded from its file: no address to carry the program's, so the template
// data gives it; the graphic waits for play().
TEST_F(Graphics, TemplateFromItsFileFollowsTheProgramTheHostNames) {
    CFieldsRelay& relay = *m_relay;
    CHeadlessBrowser browser;
    ASSERT_TRUE(browser.Open(
        QUrl::fromLocalFile(QStringLiteral(TALLYVIEW_GRAPHICS "/scorebug.html")).toString()))
        << browser.Error().toStdString();
    ASSERT_TRUE(browser.WaitFor("typeof update === 'function'"));
    EXPECT_FALSE(browser.Evaluate("document.body.classList.contains('on')").toBool());
    browser.Evaluate(
        QStringLiteral("update('<templateData><componentData id=\"server\"><data id=\"text\" "
                       "value=\"http://127.0.0.1:%1\"/></componentData><componentData id=\"code\">"
                       "<data id=\"text\" value=\"%2\"/></componentData></templateData>'); play()")
            .arg(relay.Port())
            .arg(kCode));
    EXPECT_TRUE(browser.WaitFor(Shows("[data-part=home]", "3"), 30000));
    EXPECT_TRUE(browser.Evaluate("document.body.classList.contains('on')").toBool());
}

} // namespace
