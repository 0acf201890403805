#include "CJournal.h"
#include "CJournalFolder.h"
#include "CMosquitto.h"
#include "CMqttAddress.h"
#include "CMqttClient.h"
#include "CMqttPublisher.h"
#include "CMqttRecord.h"
#include "CScreenCommands.h"
#include "CTempCwd.h"
#include "CTtyrecReader.h"
#include "PortTestSupport.h"
#include "PtyPair.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

namespace {

constexpr int kSettleMs = 20000;

// A port on the pseudo-terminal whose line is published, as the program does it.
class CPublishedLine {
public:
    explicit CPublishedLine(const QString& url, qsizetype maxBacklog = CMqttPublisher::kMaxBacklog,
                            const std::function<void(CTerminalPort&)>& attachMore = {}) {
        QString problem;
        if (attachMore)
            attachMore(m_port);
        auto publisher =
            std::make_unique<CMqttPublisher>(CMqttAddress::Parse(url, problem), m_port, maxBacklog);
        m_publisher = publisher.get();
        m_port.AttachListener(std::move(publisher));
        m_port.OpenOn(QString::fromStdString(m_pty.SlavePath()));
    }
    // Sends the bytes in chunks of random sizes and waits until the port has them all.
    void Send(std::mt19937& rng, const std::string& bytes) {
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t n = std::min<std::size_t>(1 + rng() % 700, bytes.size() - at);
            m_pty.Write(std::string_view(bytes).substr(at, n));
            at += n;
        }
        m_sent += bytes;
        ASSERT_TRUE(WaitUntil([this] { return m_port.Seen().size() == m_sent.size(); }));
    }
    CRecordingPort& Port() { return m_port; }
    QString State() const { return m_publisher->StateLine(); }

private:
    PtyPair m_pty;
    CRecordingPort m_port;
    CMqttPublisher* m_publisher;
    std::string m_sent;
};

// A subscriber of TOPIC/screen, as a web page elsewhere would be.
class CScreenViewer {
public:
    explicit CScreenViewer(const QString& url)
        : m_address(CMqttAddress::Parse(url, m_problem)), m_client(m_address) {
        m_client.SetSubscriptions({m_address.Topic("screen")});
        QObject::connect(&m_client, &CMqttClient::Received,
                         [this](const QByteArray&, const QByteArray& payload) {
                             m_shown = QJsonDocument::fromJson(payload).object();
                             m_arrivals.push_back(m_clock.elapsed());
                         });
        m_clock.start();
        m_client.Start();
    }
    const QJsonObject& Shown() const { return m_shown; }
    int Count() const { return static_cast<int>(m_arrivals.size()); }
    // The most screens that arrived within any one second.
    int MostInASecond() const {
        int most = 0;
        for (auto from = m_arrivals.begin(); from != m_arrivals.end(); ++from)
            most =
                std::max<int>(most, std::lower_bound(from, m_arrivals.end(), *from + 1000) - from);
        return most;
    }

private:
    QString m_problem;
    CMqttAddress m_address;
    CMqttClient m_client;
    QJsonObject m_shown;
    QElapsedTimer m_clock;
    std::vector<qint64> m_arrivals; // ms since the viewer began
};

std::string Screen(CTerminalPort& port) {
    port.ProcessReceived();
    return CScreenCommands::Of(port);
}

// The mirror ends in exactly the publisher's screen.
void ExpectSameScreen(CTerminalPort& mirror, CTerminalPort& source) {
    WaitUntil([&] { return Screen(mirror) == Screen(source); }, kSettleMs);
    EXPECT_EQ(Screen(mirror), Screen(source)) << mirror.LastError().toStdString();
}

bool InSync(CTerminalPort& mirror) {
    return WaitUntil([&] { return mirror.LastError().isEmpty(); }, kSettleMs);
}

// A keyframe of a screen that shows `text`, as anyone the broker lets publish could send it.
QByteArray Keyframe(quint64 sequence, const std::string& text) {
    const std::string screen = "\x1b+\x1b"
                               "a5R10C" +
                               text;
    return CMqttRecord{sequence, {}, QByteArray::fromStdString(screen)}.Encode();
}

bool Shows(CTerminalPort& port, const std::string& text) {
    return WaitUntil([&] { return Screen(port).find(text) != std::string::npos; }, kSettleMs);
}

// This process's memory from /proc, in bytes: "VmRSS" now, "VmHWM" the peak since ResetPeak.
qint64 Memory(const QByteArray& key) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
        if (line.startsWith(key + ':'))
            return line.mid(key.size() + 1).trimmed().split(' ').constFirst().toLongLong() * 1024;
    return -1;
}

bool ResetPeak() {
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

class MqttLine : public ::testing::Test {
protected:
    // 20 to 60 KB of what the statistics computer sends, stray bytes of every value among it.
    std::string Stream() { return RandomStream(m_rng, 2000 + m_rng() % 4000); }

    std::mt19937 m_rng{20261208};
};

TEST_F(MqttLine, MirrorOnABridgedBrokerShowsThePublishersScreen) {
    CMosquitto origin;
    ASSERT_TRUE(origin.Start());
    CMosquitto bridged(origin.Port());
    ASSERT_TRUE(bridged.Start());
    CPublishedLine line(origin.Url(QStringLiteral("venue/press")));
    CRecordingPort mirror;
    ASSERT_TRUE(mirror.OpenOn(bridged.Url(QStringLiteral("venue/press"))))
        << mirror.LastError().toStdString();
    ASSERT_TRUE(InSync(mirror)) << mirror.LastError().toStdString();

    // The line changes the screen twenty times a second for two seconds, and ends in a known
    // screen.
    const QString url = origin.Url(QStringLiteral("venue/press"));
    const CScreenViewer early(url);
    WaitUntil([&] { return early.Count() > 0; });
    std::string stream = Stream();
    while (!FeedWhole(stream).pending.empty()) // no sequence left open to swallow the end
        stream += '\r';
    stream += Esc("+") + At(2, 4) + "HOME 3" + Esc("Fperiod 2\r") + Esc("fArena\r");
    for (std::size_t i = 0; i < 40; ++i) {
        line.Send(m_rng, stream.substr(i * stream.size() / 40, stream.size() / 40 + 1));
        WaitUntil([] { return false; }, 50);
    }
    ExpectSameScreen(mirror, line.Port());
    // Every record came through in order: the mirror's line is the publisher's, byte for byte,
    // after the keyframe it started from.
    EXPECT_TRUE(mirror.Seen().ends_with(line.Port().Seen()))
        << "mirror: " << mirror.LastError().toStdString()
        << "; publisher: " << line.State().toStdString();

    // Viewers have the whole screen as the web view would send it, one that subscribes now
    // too, and never more than ten screens a second.
    const CScreenViewer late(url);
    const QString blank(CTerminalScreen::kCols, QLatin1Char(' '));
    const QJsonObject expected{
        {"n", 3},
        {"rows", QJsonObject{{"0", blank},
                             {"1", blank},
                             {"2", QStringLiteral("    HOME 3") + blank.mid(10)}}},
        {"status", "period 2"},
        {"label", "Arena"},
        {"cursor", "003-011"}};
    for (const CScreenViewer* viewer : {&early, &late}) {
        WaitUntil([&] { return viewer->Shown() == expected; }, kSettleMs);
        EXPECT_EQ(QJsonDocument(viewer->Shown()).toJson().toStdString(),
                  QJsonDocument(expected).toJson().toStdString());
    }
    // One more for the delivery's jitter; a publisher that does not hold back sends twenty.
    EXPECT_LE(early.MostInASecond(), CMqttPublisher::kScreensPerSecond + 1);
    EXPECT_GT(early.Count(), 1) << "nothing to count";
}

TEST_F(MqttLine, BrokerRestartedMidStreamAndALateMirrorEndInTheExactScreen) {
    CMosquitto broker;
    ASSERT_TRUE(broker.Start());
    const QString url = broker.Url(QStringLiteral("rink"));
    CPublishedLine line(url);
    CRecordingPort early;
    ASSERT_TRUE(early.OpenOn(url));
    line.Send(m_rng, Stream());
    broker.Stop();
    line.Send(m_rng, Stream());
    ASSERT_TRUE(broker.Start());
    line.Send(m_rng, Stream());
    CRecordingPort late;
    ASSERT_TRUE(late.OpenOn(url)) << late.LastError().toStdString();
    line.Send(m_rng, Stream());
    ExpectSameScreen(early, line.Port());
    ExpectSameScreen(late, line.Port());
}

TEST_F(MqttLine, BacklogOverflowRecoversThroughAKeyframe) {
    CMosquitto origin;
    ASSERT_TRUE(origin.Start());
    CMosquitto bridged(origin.Port());
    ASSERT_TRUE(bridged.Start());
    CPublishedLine line(origin.Url(QStringLiteral("arena")), 4096);
    CRecordingPort mirror;
    ASSERT_TRUE(mirror.OpenOn(bridged.Url(QStringLiteral("arena"))));
    ASSERT_TRUE(InSync(mirror));
    line.Send(m_rng, Stream());
    ExpectSameScreen(mirror, line.Port());

    origin.Stop();
    line.Send(m_rng, Stream());
    EXPECT_TRUE(WaitUntil([&] { return line.State().contains(QLatin1String("dropped")); }))
        << line.State().toStdString();
    ASSERT_TRUE(origin.Start());
    ExpectSameScreen(mirror, line.Port());
    EXPECT_TRUE(mirror.LastError().startsWith(QLatin1String("resynchronised")))
        << mirror.LastError().toStdString();
}

// The journal and the publisher each follow the line with a screen of their own: after the
// sample game in chunks of random sizes, the journal's file, the publisher's keyframe and the
// live screen are one and the same screen.
TEST_F(MqttLine, JournalKeyframeAndLiveScreenAgreeAfterTheSampleGame) {
    std::ifstream in(TALLYVIEW_SAMPLE_CAPTURE, std::ios::binary);
    const std::string game{std::istreambuf_iterator<char>(in), {}};
    ASSERT_FALSE(game.empty());
    CMosquitto broker;
    ASSERT_TRUE(broker.Start());
    const QString url = broker.Url(QStringLiteral("agree"));
    CTempCwd cwd;
    CJournal::Settings settings;
    settings.m_folder = cwd.File(QStringLiteral("journal"));
    CPublishedLine line(url, CMqttPublisher::kMaxBacklog, [&](CTerminalPort& port) {
        port.AttachListener(std::make_unique<CJournal>(settings, port));
    });
    QString problem;
    const CMqttAddress address = CMqttAddress::Parse(url, problem);
    CMqttClient keyframes(address);
    std::string keyframe;
    keyframes.SetSubscriptions({address.Topic("keyframe")});
    QObject::connect(&keyframes, &CMqttClient::Received,
                     [&](const QByteArray&, const QByteArray& p) {
                         if (const std::optional<CMqttRecord> record = CMqttRecord::Decode(p))
                             keyframe = record->m_bytes.toStdString();
                     });
    keyframes.Start();

    line.Send(m_rng, game);
    CTerminalPort& live = line.Port();
    live.FindListener<CJournal>()->WaitWritten();
    const std::string expected = Screen(live);
    EXPECT_EQ(ReplayAlone(CJournalFolder(settings.m_folder).Files().constLast()), StateOf(live));
    WaitUntil([&] { return keyframe == expected; }, kSettleMs);
    EXPECT_EQ(FeedWhole(keyframe), FeedWhole(expected));
}

// What else is published on the line's topics: the mirror always comes back to the publisher.

TEST_F(MqttLine, KeyframeWithAHugeNumberGivesWayToThePublishersNext) {
    CMosquitto broker;
    ASSERT_TRUE(broker.Start());
    const QString url = broker.Url(QStringLiteral("hall"));
    CPublishedLine line(url);
    CRecordingPort mirror;
    ASSERT_TRUE(mirror.OpenOn(url));
    ASSERT_TRUE(InSync(mirror)) << mirror.LastError().toStdString();
    for (const quint64 huge : {quint64(1) << 63, ~quint64(0)}) {
        ASSERT_TRUE(broker.Publish(QStringLiteral("hall/keyframe"), Keyframe(huge, "STRAY")));
        ASSERT_TRUE(Shows(mirror, "STRAY"));
        line.Send(m_rng, Stream());
        ExpectSameScreen(mirror, line.Port());
        EXPECT_TRUE(mirror.LastError().contains(QLatin1String("new session")))
            << mirror.LastError().toStdString();
    }
}

// The publisher's numbers start from its clock: started again after the clock was put back an
// hour, it numbers below the session before.
TEST_F(MqttLine, PublisherStartedAgainWithItsClockPutBackIsFollowed) {
    CMosquitto broker;
    ASSERT_TRUE(broker.Start());
    const QString url = broker.Url(QStringLiteral("hall"));
    const quint64 before = quint64(QDateTime::currentMSecsSinceEpoch() + 3600 * 1000) * 1000;
    ASSERT_TRUE(broker.Publish(QStringLiteral("hall/state"), "online"));
    ASSERT_TRUE(broker.Publish(QStringLiteral("hall/keyframe"), Keyframe(before, "EARLIER")));
    CRecordingPort mirror;
    ASSERT_TRUE(mirror.OpenOn(url));
    ASSERT_TRUE(Shows(mirror, "EARLIER"));
    ASSERT_TRUE(broker.Publish(QStringLiteral("hall/keyframe"), Keyframe(before + 9, "LATER")));
    ASSERT_TRUE(Shows(mirror, "LATER"));
    ASSERT_TRUE(broker.Publish(QStringLiteral("hall/state"), "offline"));

    CPublishedLine line(url);
    line.Send(m_rng, Stream());
    ExpectSameScreen(mirror, line.Port());
    EXPECT_TRUE(mirror.LastError().contains(QLatin1String("new session")))
        << mirror.LastError().toStdString();
}

// A node that closes the publisher's connection (a cluster settling) sends its will; the
// publisher, connected again, says "online" while the mirror follows on without a gap, its
// keyframes no newer than the records already shown: the mirror is no longer "offline".
TEST_F(MqttLine, PublisherOnlineAgainAfterItsWillIsNotLeftOffline) {
    CMosquitto broker;
    ASSERT_TRUE(broker.Start());
    const QString url = broker.Url(QStringLiteral("hall"));
    CPublishedLine line(url);
    CRecordingPort mirror;
    ASSERT_TRUE(mirror.OpenOn(url));
    line.Send(m_rng, Stream());
    ExpectSameScreen(mirror, line.Port());
    ASSERT_TRUE(broker.Publish(QStringLiteral("hall/state"), "offline"));
    ASSERT_TRUE(WaitUntil([&] { return mirror.LastError().contains(QLatin1String("offline")); }));
    ASSERT_TRUE(broker.Publish(QStringLiteral("hall/state"), "online"));
    line.Send(m_rng, Stream());
    ExpectSameScreen(mirror, line.Port());
    EXPECT_TRUE(InSync(mirror)) << mirror.LastError().toStdString();
}

// A broker that takes only its user: the right password publishes and mirrors, a wrong one is
// refused with the broker's reason and delivers nothing.
TEST_F(MqttLine, BrokerWithAPasswordTakesOnlyTheRightOne) {
    CMosquitto broker;
    ASSERT_TRUE(broker.RequirePassword(QStringLiteral("press"), QStringLiteral("s3cret")));
    ASSERT_TRUE(broker.Start());
    const auto url = [&](const char* password) {
        return QStringLiteral("mqtt://press:%1@127.0.0.1:%2/hall")
            .arg(QLatin1String(password))
            .arg(broker.Port());
    };
    CPublishedLine wrong(url("wrong"));
    CPublishedLine right(url("s3cret"));
    CRecordingPort mirror;
    ASSERT_TRUE(mirror.OpenOn(url("s3cret"))) << mirror.LastError().toStdString();
    ASSERT_TRUE(InSync(mirror)) << mirror.LastError().toStdString();
    wrong.Send(m_rng, Esc("+") + "WRONG");
    right.Send(m_rng, Esc("+") + "RIGHT");
    EXPECT_TRUE(Shows(mirror, "RIGHT"));
    EXPECT_TRUE(WaitUntil([&] {
        return wrong.State().contains(QLatin1String("refused"), Qt::CaseInsensitive);
    })) << wrong.State().toStdString();
    EXPECT_FALSE(wrong.State().contains(QLatin1String("wrong"))) << "the password is shown";
    EXPECT_EQ(Screen(mirror).find("WRONG"), std::string::npos);
}

struct LargeMessage {
    const char* m_topic;
    QByteArray m_payload;
    const char* m_shows; // what the mirror shows then; nothing when it drops the message
};

// Valid in form: far beyond the longest record a journal holds, and a keyframe just within.
TEST_F(MqttLine, MessagesLongerThanARecordAreDroppedAndMemoryReturnsAfterLargeOnes) {
    constexpr qsizetype kHuge = 50 << 20;
    const auto payload = [](const QByteArray& bytes) {
        return CMqttRecord{quint64(1) << 62, {}, bytes}.Encode();
    };
    const QByteArray huge = payload(QByteArray(kHuge, 'x'));
    QByteArray commands;
    while (commands.size() < qsizetype(CTtyrecReader::kMaxLength) - 100)
        commands += "\x1b"
                    "a5R10CLARGE";
    const LargeMessage messages[] = {{"keyframe", huge, nullptr},
                                     {"line", huge, nullptr},
                                     {"keyframe", payload(commands), "LARGE"}};
    CMosquitto broker;
    ASSERT_TRUE(broker.Start());
    const QString url = broker.Url(QStringLiteral("hall"));
    CPublishedLine line(url);
    CTerminalPort mirror; // keeping nothing of what it shows
    ASSERT_TRUE(OpenTerminalPort(mirror, url));
    ASSERT_TRUE(InSync(mirror)) << mirror.LastError().toStdString();
    const qint64 resident = Memory("VmRSS");
    ASSERT_TRUE(ResetPeak());
    for (const LargeMessage& m : messages) {
        const QString topic = QStringLiteral("hall/%1").arg(QLatin1String(m.m_topic));
        ASSERT_TRUE(broker.Publish(topic, m.m_payload));
        if (m.m_shows)
            EXPECT_TRUE(Shows(mirror, m.m_shows)) << topic.toStdString();
        else
            EXPECT_TRUE(WaitUntil(
                [&] {
                    return mirror.LastError().contains(QLatin1String("dropped")) &&
                           mirror.LastError().contains(topic);
                },
                kSettleMs))
                << mirror.LastError().toStdString();
    }
    line.Send(m_rng, Stream());
    ExpectSameScreen(mirror, line.Port());
    // The library holds two copies of a message while it hands it on; a dropped one no more.
    EXPECT_LT(Memory("VmHWM") - resident, 3 * kHuge) << "from " << resident;
    EXPECT_LT(Memory("VmRSS") - resident, 8 << 20) << "from " << resident;
}

} // namespace

// Several nodes of one broker: each form read as a list, each bad one refused with its reason.
TEST(MqttAddress, ListsOfBrokersAndTheirBadForms) {
    const struct {
        const char* m_text;
        const char* m_shown;   // when it is good
        const char* m_problem; // part of the reason when it is bad
    } cases[] = {
        {"mqtt://a:1,b:2/t", "mqtt://a:1,b:2/t", nullptr},
        {"mqtts://u:p,w@a,[::1]:2/x/y", "mqtts://a:8883,[::1]:2/x/y", nullptr},
        {"mqtt://a:1,,b:2/t", nullptr, "empty place"},
        {"mqtt://a:1,/t", nullptr, "empty place"},
        {"mqtt://a:1,b:2,a:1/t", nullptr, "a:1 is listed twice"},
        {"mqtt://a:1,b:70000/t", nullptr, "is not an address"},
        {"mqtt://a:1,:2/t", nullptr, "host name"},
        {"mqtt://a:1,b:2", nullptr, "lacks the topic"},
        {"mqtt://a:1,b:2/t/+", nullptr, "wildcard"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_text);
        QString problem;
        const CMqttAddress address = CMqttAddress::Parse(QLatin1String(c.m_text), problem);
        if (c.m_shown) {
            EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
            EXPECT_EQ(address.Shown(), QLatin1String(c.m_shown));
        } else {
            EXPECT_TRUE(problem.contains(QLatin1String(c.m_problem))) << problem.toStdString();
        }
    }
    QString problem;
    const CMqttAddress address =
        CMqttAddress::Parse(QStringLiteral("mqtts://u:p,w@a,b:2/t"), problem);
    EXPECT_EQ(address.m_user, QLatin1String("u"));
    EXPECT_EQ(address.m_password, QLatin1String("p,w"));
}

// The records on TOPIC/line one broker delivered, by number.
class CRecordsSeen {
public:
    explicit CRecordsSeen(const QString& url)
        : m_address(CMqttAddress::Parse(url, m_problem)), m_client(m_address) {
        m_client.SetSubscriptions({m_address.Topic("line")});
        QObject::connect(&m_client, &CMqttClient::Received,
                         [this](const QByteArray&, const QByteArray& payload) {
                             if (const std::optional<CMqttRecord> r = CMqttRecord::Decode(payload))
                                 m_records[r->m_sequence] = r->m_bytes.toStdString();
                         });
        m_client.Start();
        WaitUntil([this] { return m_client.IsConnected(); });
    }
    const std::map<quint64, std::string>& Records() const { return m_records; }

private:
    QString m_problem;
    CMqttAddress m_address;
    CMqttClient m_client;
    std::map<quint64, std::string> m_records;
};

// Two brokers, not bridged: the first goes while the line goes on. Publisher and mirror move to
// the second and say so; the records the first did not take reach the second, numbered on
// without a gap, and no byte of the line is in two records.
TEST_F(MqttLine, PublisherAndMirrorMoveToTheNextBrokerWithNothingLost) {
    CMosquitto first;
    CMosquitto second;
    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(second.Start());
    const QString url = QStringLiteral("mqtt://127.0.0.1:%1,127.0.0.1:%2/hall")
                            .arg(first.Port())
                            .arg(second.Port());
    CRecordsSeen onFirst(first.Url(QStringLiteral("hall")));
    CRecordsSeen onSecond(second.Url(QStringLiteral("hall")));
    CPublishedLine line(url);
    CRecordingPort mirror;
    ASSERT_TRUE(mirror.OpenOn(url)) << mirror.LastError().toStdString();
    ASSERT_TRUE(InSync(mirror)) << mirror.LastError().toStdString();
    line.Send(m_rng, Stream());
    ASSERT_TRUE(WaitUntil([&] {
        std::string bytes;
        for (const auto& [number, record] : onFirst.Records())
            bytes += record;
        return bytes == line.Port().Seen();
    })) << "the first broker is in use";

    first.Stop();
    line.Send(m_rng, Stream());
    ExpectSameScreen(mirror, line.Port());
    const QString node = QStringLiteral("127.0.0.1:%1").arg(second.Port());
    EXPECT_TRUE(line.State().contains(QStringLiteral("connected to ") + node))
        << line.State().toStdString();
    EXPECT_TRUE(mirror.LineStatus().join('\n').contains(QStringLiteral(" on ") + node))
        << mirror.LineStatus().join('\n').toStdString();

    std::map<quint64, std::string> records = onFirst.Records();
    ASSERT_TRUE(WaitUntil([&] {
        records.insert(onSecond.Records().begin(), onSecond.Records().end());
        std::string bytes;
        for (const auto& [number, record] : records)
            bytes += record;
        return bytes.size() >= line.Port().Seen().size();
    }));
    std::string bytes;
    for (const auto& [number, record] : records)
        bytes += record;
    EXPECT_EQ(bytes, line.Port().Seen());
    EXPECT_EQ(records.rbegin()->first - records.begin()->first + 1, records.size());
}
