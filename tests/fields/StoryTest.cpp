// The game's story of a live line through the real relay: a hand-made game with a tie, a lead
// change and an overtime period, its numbers as /story.json gives them, its chart as /story.svg
// gives it (drawn without Qt Gui, which the relay lacks) read by an SVG parser and a real
// browser, and the shared page showing the numbers and the chart under the cards.
#include "CHeadlessBrowser.h"
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
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gtest/gtest.h>
#include <map>
#include <thread>

namespace {

const QString kCode = QStringLiteral("gamestry23");

// One line of the board: "PER 1  HOME  0 VIS  0".
const QByteArray kFields = R"({"version": 1, "fields": [
  {"name": "period", "row": 1, "column": 5, "width": 2, "when": {"row": 1, "column": 1, "text": "PER"}},
  {"name": "home", "row": 1, "column": 13, "width": 2, "when": {"row": 1, "column": 1, "text": "PER"}},
  {"name": "visitor", "row": 1, "column": 20, "width": 2, "when": {"row": 1, "column": 1, "text": "PER"}}],
  "story": {"home": "home", "visitor": "visitor", "home_label": "GULLS", "visitor_label": "LYNX",
            "period": "period", "shade": "kept as it is"}})";

std::string Board(const char* period, int home, int visitor) {
    char line[64];
    std::snprintf(line, sizeof line, "PER %-2s HOME %2d VIS %2d", period, home, visitor);
    return std::string("\x1b=  ") + line; // row 1, column 1
}

// Each board stands long enough to be a score, not a passing state.
struct Step {
    const char* m_period;
    int m_home;
    int m_visitor;
};
const Step kGame[] = {{"1", 0, 0}, {"1", 1, 0}, {"1", 1, 1},  {"2", 1, 1},
                      {"2", 1, 2}, {"2", 2, 2}, {"OT", 2, 2}, {"OT", 3, 2}};

// The relay on a pseudo-terminal, keeping its journal in a folder of the test's, sharing on
// loopback.
class CStoryRelay {
public:
    CStoryRelay() {
        QFile file(m_dir.filePath(QStringLiteral("fields.json")));
        file.open(QIODevice::WriteOnly);
        file.write(kFields);
        file.close();
        m_relay = std::make_unique<CRelayProcess>(
            QStringLiteral(TALLYVIEW_RELAY),
            QStringList{"--device", QString::fromStdString(m_pty.SlavePath()), "--journal",
                        JournalFolder(), "--share", QString::number(m_port), "--share-code", kCode,
                        "--fields", file.fileName()},
            m_dir.path());
    }
    bool WaitOpen() { return m_relay->Logged(": open"); }
    QString Url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1%2?code=%3").arg(m_port).arg(path, kCode);
    }
    QByteArray Get(const QString& path, int* status = nullptr) {
        QNetworkAccessManager manager;
        std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(QUrl(Url(path)))));
        WaitUntil([&] { return reply->isFinished(); }, 10000);
        if (status)
            *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        return reply->readAll();
    }
    void Write(const std::string& bytes) { m_pty.Write(bytes); }
    const QByteArray& Log() const { return m_relay->Log(); }
    QString JournalFolder() const { return m_dir.filePath(QStringLiteral("journal")); }

private:
    QTemporaryDir m_dir;
    PtyPair m_pty;
    quint16 m_port = FreeTcpPort();
    std::unique_ptr<CRelayProcess> m_relay;
};

// The dots of each colour in the chart, one per score of that side, and the corners of each
// colour's steps, two per score.
std::map<QString, int> DotsByColour(const QByteArray& svg, QString* error) {
    QXmlStreamReader reader(svg);
    std::vector<QString> fills{QString()};
    std::map<QString, int> dots;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            const QXmlStreamAttributes attributes = reader.attributes();
            const QString fill = attributes.value(QStringLiteral("fill")).toString();
            fills.push_back(fill.isEmpty() ? fills.back() : fill);
            if (reader.name() == QStringLiteral("ellipse") ||
                reader.name() == QStringLiteral("circle"))
                ++dots[fills.back()];
            if (reader.name() == QStringLiteral("polyline"))
                dots["steps " + attributes.value(QStringLiteral("stroke")).toString()] +=
                    int(attributes.value(QStringLiteral("points")).split(u' ').size());
        } else if (reader.isEndElement()) {
            fills.pop_back();
        }
    }
    *error = reader.hasError() ? reader.errorString() : QString();
    return dots;
}

// The member at a path of names.
QJsonValue At(const QJsonValue& object, const QStringList& path) {
    QJsonValue value = object;
    for (const QString& name : path)
        value = value.toObject().value(name);
    return value;
}

TEST(Story, NumbersChartAndPageOfALiveGame) {
    CStoryRelay relay;
    ASSERT_TRUE(relay.WaitOpen()) << relay.Log().toStdString();
    for (const Step& step : kGame) {
        relay.Write(Board(step.m_period, step.m_home, step.m_visitor));
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    }
    // The journal writes within 0.2 s: the story catches up with the line on its own.
    QJsonObject story;
    ASSERT_TRUE(WaitUntil(
        [&] {
            story = QJsonDocument::fromJson(relay.Get(QStringLiteral("/story.json"))).object();
            return At(story, {"home", "score"}).toInt() == 3;
        },
        10000))
        << QJsonDocument(story).toJson().toStdString() << relay.Log().toStdString();
    // 1-1 and 2-2 are ties; 1-2 puts the side behind ahead, and so does 3-2 in overtime.
    EXPECT_EQ(At(story, {"lead_changes"}).toInt(), 2);
    EXPECT_EQ(At(story, {"times_tied"}).toInt(), 2);
    QJsonArray kinds;
    for (const QJsonValue& event : At(story, {"events"}).toArray())
        kinds.append(QStringLiteral("%1 %2-%3 P%4")
                         .arg(At(event, {"kind"}).toString())
                         .arg(At(event, {"home"}).toInt())
                         .arg(At(event, {"visitor"}).toInt())
                         .arg(At(event, {"period"}).toString()));
    EXPECT_EQ(kinds, (QJsonArray{"tie 1-1 P1", "lead change 1-2 P2", "tie 2-2 P2",
                                 "lead change 3-2 POT"}));
    EXPECT_EQ(At(story, {"home", "label"}).toString(), "GULLS");
    EXPECT_EQ(At(story, {"home", "largest_lead", "points"}).toInt(), 1);
    EXPECT_EQ(At(story, {"home", "largest_lead", "at", "period"}).toString(), "1");
    EXPECT_EQ(At(story, {"visitor", "largest_lead", "at", "period"}).toString(), "2");
    // The visitors' 1-1, 1-2 is the first run of two; the home side's 2-2, 3-2 only equals it.
    EXPECT_EQ(At(story, {"longest_run", "side"}).toString(), "visitor");
    EXPECT_EQ(At(story, {"longest_run", "points"}).toInt(), 2);
    QJsonArray periods;
    for (const QJsonValue& period : At(story, {"periods"}).toArray())
        periods.append(At(period, {"period"}));
    EXPECT_EQ(periods, (QJsonArray{"1", "2", "OT"}));

    int status = 0;
    relay.Get(QStringLiteral("/series/nothing.csv"), &status);
    EXPECT_EQ(status, 404);
    EXPECT_EQ(relay.Get(QStringLiteral("/series/home.csv")).count('\n'), 5); // heading, 0..3

    // The relay, without Qt Gui, draws the chart too: a dot for each score, a step for each of
    // the six scores (0-0, 1-0, 1-1, 1-2, 2-2, 3-2) on both lines.
    const QByteArray svg = relay.Get(QStringLiteral("/story.svg"), &status);
    EXPECT_EQ(status, 200);
    QString error;
    const std::map<QString, int> dots = DotsByColour(svg, &error);
    EXPECT_EQ(error, QString());
    EXPECT_EQ(dots,
              (std::map<QString, int>{
                  {"#1f5fbf", 3}, {"#c83a2a", 2}, {"steps #1f5fbf", 12}, {"steps #c83a2a", 12}}))
        << svg.toStdString();

    if (QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty())
        GTEST_SKIP() << "chromium is not installed";
    CHeadlessBrowser browser;
    ASSERT_TRUE(browser.Open(relay.Url(QStringLiteral("/")))) << browser.Error().toStdString();
    ASSERT_TRUE(browser.WaitFor(QStringLiteral(
        "document.querySelector('[data-story=\"lead_changes\"]')?.textContent === '2' && "
        "!document.getElementById('story-chart').hidden && "
        "document.getElementById('story-chart').naturalWidth === 960")))
        << browser.Evaluate(QStringLiteral("document.getElementById('story').outerHTML"))
               .toString()
               .toStdString();
    EXPECT_EQ(browser.Evaluate(QStringLiteral(
                  "document.querySelector('[data-story=\"times_tied\"]').textContent")),
              QJsonValue("2"));
    EXPECT_TRUE(browser
                    .Evaluate(QStringLiteral(
                        "document.querySelector('#fields').getBoundingClientRect().bottom <= "
                        "document.querySelector('#story').getBoundingClientRect().top"))
                    .toBool());
    // A browser shows the chart on its own, at its size.
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("story.svg")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(svg) == svg.size());
    file.close();
    CHeadlessBrowser viewer;
    ASSERT_TRUE(viewer.Open(QUrl::fromLocalFile(file.fileName()).toString()))
        << viewer.Error().toStdString();
    viewer.WaitFor(QStringLiteral("document.documentElement.localName === 'svg'"));
    const QJsonArray shown =
        viewer
            .Evaluate(QStringLiteral("[document.querySelectorAll('ellipse, circle').length, "
                                     "document.documentElement.getBoundingClientRect().width, "
                                     "document.querySelector('text').textContent]"))
            .toArray();
    EXPECT_EQ(shown, (QJsonArray{5, 960, "GULLS 3LYNX 2"}))
        << QJsonDocument(shown).toJson().toStdString();
}

} // namespace
