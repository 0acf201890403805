#include "CSampleGame.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr char kEsc = 27;
constexpr int kSkaters = 18;
constexpr int kLastByteColumn = 95; // ESC = reaches columns 0-95 only
constexpr int kPeriodSeconds = 20 * 60;
constexpr int kScoreRow = 2;
constexpr int kStrengthRow = 3;
constexpr int kHeadingRow = 5;
constexpr int kFirstPlayerRow = 6;
constexpr int kPenaltyRow = 28;
constexpr int kPenaltyRows = 3;
constexpr int kEventRow = 33;
constexpr int kEventRows = 6;
constexpr int kStatsRow = 40;
constexpr int kClockCol = 67;
constexpr int kStrengthCol = 50;
// Where the fields of a player line start.
constexpr int kShotsOffset = 33;
constexpr int kPimOffset = 41;
constexpr int kIceOffset = 45;
constexpr int kPenaltyTimeOffset = 38;
constexpr int kPenaltyWidth = 60;
// TV timeouts come at the first stoppage after these clock readings.
constexpr int kTimeouts[] = {14 * 60, 10 * 60, 6 * 60};

struct RosterEntry {
    int number;
    const char* name;
    char position;
};

// Shift order: three units of centre, wings and a defence pair, a fourth line, two goalies.
constexpr RosterEntry kGulls[] = {
    {17, "T. MARCHETTI", 'C'}, {9, "J. OKONKWO", 'L'},     {21, "R. SANDVIK", 'R'},
    {4, "D. OKAFOR", 'D'},     {44, "M. BRENNAN", 'D'},    {19, "K. LINDQVIST", 'C'},
    {12, "A. DUBOIS", 'L'},    {27, "P. HALVORSEN", 'R'},  {5, "S. MCALLISTER", 'D'},
    {55, "E. VARGA", 'D'},     {24, "N. FITZGERALD", 'C'}, {11, "L. PELLETIER", 'L'},
    {71, "O. KOVALENKO", 'R'}, {2, "B. ACHTERBERG", 'D'},  {6, "C. RUIZ", 'D'},
    {13, "H. TANAKA", 'C'},    {28, "F. OYELARAN", 'L'},   {15, "W. STRAND", 'R'},
    {31, "G. ASHWORTH", 'G'},  {35, "V. KARLSSON", 'G'},
};
constexpr RosterEntry kLynx[] = {
    {91, "M. DESROCHERS", 'C'},   {16, "I. NAKAMURA", 'L'},    {8, "Z. PETRAKIS", 'R'},
    {3, "Q. HOLLOWAY", 'D'},      {77, "A. BJORKMAN", 'D'},    {22, "J. CALLAGHAN", 'C'},
    {10, "T. VAN DER BERG", 'L'}, {26, "R. MWANGI", 'R'},      {7, "E. SOKOLOV", 'D'},
    {47, "P. LACHANCE", 'D'},     {14, "D. KIRKPATRICK", 'C'}, {18, "U. ESPOSITO", 'L'},
    {23, "G. HARTIGAN", 'R'},     {2, "S. NWOSU", 'D'},        {58, "K. WEATHERBY", 'D'},
    {20, "Y. MORIN", 'C'},        {25, "B. ELDRIDGE", 'L'},    {36, "C. FAIRWEATHER", 'R'},
    {30, "L. PRZYBYLSKI", 'G'},   {1, "T. OSEI", 'G'},
};
constexpr const char* kInfractions[] = {"HOOKING",       "TRIPPING",       "SLASHING",
                                        "HOLDING",       "INTERFERENCE",   "ROUGHING",
                                        "HIGH-STICKING", "CROSS-CHECKING", "DELAY OF GAME"};
// Offside and icing come up most.
constexpr const char* kStoppages[] = {
    "OFFSIDE",          "ICING",       "OFFSIDE",   "ICING", "OFFSIDE",
    "PUCK OUT OF PLAY", "PUCK FROZEN", "HAND PASS", "ICING", "NET OFF ITS MOORINGS"};

template <typename... Args> std::string Format(const char* format, Args... args) {
    char text[256];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

std::string MinutesSeconds(int seconds) {
    return Format("%2d:%02d", seconds / 60, seconds % 60);
}

std::string Padded(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

} // namespace

CSampleGame::CSampleGame(std::uint32_t seed)
    : m_rng(seed), m_home(MakeTeam("HARBOR CITY GULLS", "GUL", 0)),
      m_visitor(MakeTeam("RIDGEFIELD LYNX", "LYN", 1)) {
    SeedFirstPeriod(m_home, 1);
    SeedFirstPeriod(m_visitor, 1);
}

CSampleGame::Team CSampleGame::MakeTeam(std::string name, std::string code, int side) {
    Team team;
    team.name = std::move(name);
    team.code = std::move(code);
    team.side = side;
    for (const RosterEntry& entry : side == 0 ? kGulls : kLynx)
        team.players.push_back({entry.number, entry.name, entry.position});
    return team;
}

// The second period starts from what the first one left on the sheet.
void CSampleGame::SeedFirstPeriod(Team& team, int goals) {
    for (int i = 0; i < kSkaters; ++i) {
        Player& player = team.players[i];
        player.shots = Pick(3);
        player.iceSeconds = 300 + Pick(180);
        player.shifts = 6 + Pick(4);
        team.shots += player.shots;
    }
    for (int goal = 0; goal < goals; ++goal) {
        Player& scorer = team.players[Pick(kSkaters)];
        ++scorer.goals;
        scorer.shots = std::max(scorer.shots, 1);
        ++team.players[Pick(kSkaters)].assists;
    }
    team.goals = goals;
    team.players[kGoalie].iceSeconds = kPeriodSeconds;
    team.faceoffs = 5 + Pick(6);
    team.hits = 6 + Pick(8);
}

std::string CSampleGame::Generate() {
    // What the statistics program sends when it takes over the terminal: modes this
    // terminal ignores, then the board.
    Skipped("\x1b"
            "c100");
    Skipped("\x1bw1");
    Skipped("\x1bN");
    SetWide(true);
    DrawBoard();
    Label("PERIOD 2");
    Status("PERIOD 2 ABOUT TO START");
    while (m_clock > 0)
        PlaySecond();
    Status("END OF 2ND PERIOD");
    Label("INTERMISSION");
    DrawSummary("END OF 2ND PERIOD");
    return m_out;
}

void CSampleGame::Goto(int row, int col) {
    if (col > kLastByteColumn) {
        GotoDecimal(row, col);
        return;
    }
    m_out += kEsc;
    m_out += '=';
    m_out += static_cast<char>(row + 32);
    m_out += static_cast<char>(col + 32);
}

void CSampleGame::GotoDecimal(int row, int col) {
    m_out += kEsc;
    m_out += Format("a%dR%dC", row + 1, col + 1);
}

void CSampleGame::At(int row, int col, std::string_view text) {
    Goto(row, col);
    Put(text);
}

void CSampleGame::ClearScreen() {
    m_out += kEsc;
    m_out += '+';
}

void CSampleGame::ClearToEnd() {
    m_out += kEsc;
    m_out += 'T';
}

void CSampleGame::Status(std::string_view text) {
    m_out += kEsc;
    m_out += 'F';
    Put(text);
    m_out += '\r';
}

void CSampleGame::Label(std::string_view text) {
    m_out += kEsc;
    m_out += 'f';
    Put(text);
    m_out += '\r';
}

void CSampleGame::SetWide(bool wide) {
    m_out += kEsc;
    m_out += '`';
    m_out += wide ? ';' : ':';
}

void CSampleGame::Skipped(std::string_view sequence) {
    Put(sequence);
}

void CSampleGame::DrawBoard() {
    ClearScreen();
    DrawHeader();
    DrawScoreLine();
    DrawStrength();
    for (const Team* team : {&m_home, &m_visitor}) {
        for (int i = 0; i < static_cast<int>(team->players.size()); ++i)
            DrawPlayerLine(*team, i);
        DrawMarkers(*team, true);
        DrawPenalties(*team);
    }
    DrawEvents();
    DrawTeamStats();
}

void CSampleGame::DrawHeader() {
    At(0, 1, "CASCADIA HOCKEY ASSOCIATION");
    At(0, 40, "GAME 0214   HARBOR CITY GULLS vs RIDGEFIELD LYNX");
    GotoDecimal(0, 100);
    Put("FERRY POINT ARENA  PRESS 2");
    for (const int row : {1, 4, 26, 31, 39}) {
        Goto(row, 0);
        Put(std::string(132, row == 1 ? '=' : '-'));
    }
    const std::string heading =
        Format("%-2s %-17s %c %2s %2s %3s %3s %3s %3s %5s %3s", "NO", "NAME", 'P', "G", "A", "PTS",
               "SOG", "+/-", "PIM", "TOI", "SHF");
    At(kHeadingRow, 1, heading);
    At(kHeadingRow, 67, heading);
    At(kPenaltyRow - 1, 1, "PENALTIES " + m_home.name);
    At(kPenaltyRow - 1, 67, "PENALTIES " + m_visitor.name);
    At(kEventRow - 1, 1, "PERIOD 2 EVENTS");
    At(41, 1, "STATS: CHA-STAT 4.2   OPERATOR J. WREN   SCORER M. ABERNATHY");
}

void CSampleGame::DrawScoreLine() {
    At(kScoreRow, 1,
       Format("%-18s %2d   SOG %2d", m_home.name.c_str(), m_home.goals, m_home.shots));
    At(kScoreRow, 50, "PERIOD 2   CLOCK " + MinutesSeconds(m_clock));
    At(kScoreRow, 80,
       Format("%-18s %2d   SOG %2d", m_visitor.name.c_str(), m_visitor.goals, m_visitor.shots));
}

void CSampleGame::DrawClock() {
    At(kScoreRow, kClockCol, MinutesSeconds(m_clock));
}

void CSampleGame::DrawStrength() {
    const int home = 5 - static_cast<int>(m_home.penalties.size());
    const int visitor = 5 - static_cast<int>(m_visitor.penalties.size());
    std::string text = Format("EVEN STRENGTH %d ON %d", home, visitor);
    if (home != visitor)
        text = Format("POWER PLAY %s %d ON %d", (home > visitor ? m_home : m_visitor).code.c_str(),
                      std::max(home, visitor), std::min(home, visitor));
    At(kStrengthRow, kStrengthCol, Padded(text, 28));
}

std::string CSampleGame::LineText(const Player& player) {
    if (player.position == 'G')
        return Format("%2d %-17s G  SA %3d   SV %3d   GA %2d         %5s", player.number,
                      player.name.c_str(), player.saves + player.against, player.saves,
                      player.against, MinutesSeconds(player.iceSeconds).c_str());
    return Format("%2d %-17s %c %2d %2d %3d %3d %+3d %3d %5s %3d", player.number,
                  player.name.c_str(), player.position, player.goals, player.assists,
                  player.goals + player.assists, player.shots, player.plusMinus,
                  player.penaltyMinutes, MinutesSeconds(player.iceSeconds).c_str(), player.shifts);
}

void CSampleGame::DrawPlayerLine(const Team& team, int index) {
    At(kFirstPlayerRow + index, ColumnOf(team), LineText(team.players[index]));
}

void CSampleGame::DrawPlayerField(const Team& team, int index, int offset, std::string_view text) {
    At(kFirstPlayerRow + index, ColumnOf(team) + offset, text);
}

// An asterisk before the number marks the players on the ice.
void CSampleGame::DrawMarkers(const Team& team, bool onIce) {
    for (const int index : OnIce(team))
        At(kFirstPlayerRow + index, ColumnOf(team) - 1, onIce ? "*" : " ");
}

std::string CSampleGame::PenaltyText(const Team& team, const Penalty& penalty) {
    return Format("%-22s %-14s %s", Tag(team, team.players[penalty.player]).c_str(),
                  penalty.infraction.c_str(), MinutesSeconds(penalty.secondsLeft).c_str());
}

// The home side is overwritten with spaces; the visitor side, at the end of the row, is
// cleared to the end of the line.
void CSampleGame::DrawPenalties(const Team& team) {
    for (int i = 0; i < kPenaltyRows; ++i) {
        const bool used = i < static_cast<int>(team.penalties.size());
        const std::string text = used ? PenaltyText(team, team.penalties[i]) : "";
        Goto(kPenaltyRow + i, ColumnOf(team));
        if (team.side == 0) {
            Put(Padded(text, kPenaltyWidth));
        } else {
            ClearToEnd();
            Put(text);
        }
    }
}

void CSampleGame::DrawEvents() {
    for (int i = 0; i < kEventRows; ++i) {
        Goto(kEventRow + i, 1);
        ClearToEnd();
        if (i < static_cast<int>(m_events.size()))
            Put(m_events[i]);
    }
}

void CSampleGame::DrawTeamStats() {
    At(kStatsRow, 1,
       Format("FACEOFFS  %s %3d - %3d %s     HITS  %s %3d - %3d %s", m_home.code.c_str(),
              m_home.faceoffs, m_visitor.faceoffs, m_visitor.code.c_str(), m_home.code.c_str(),
              m_home.hits, m_visitor.hits, m_visitor.code.c_str()));
}

void CSampleGame::DrawSummary(std::string_view title) {
    SetWide(false);
    ClearScreen();
    GotoDecimal(2, 28);
    Put(title);
    GotoDecimal(4, 10);
    Put(Format("%-20s %6s %6s", "", m_home.code.c_str(), m_visitor.code.c_str()));
    const std::pair<const char*, int (*)(const Team&)> lines[] = {
        {"GOALS", [](const Team& t) { return t.goals; }},
        {"SHOTS ON GOAL", [](const Team& t) { return t.shots; }},
        {"FACEOFFS WON", [](const Team& t) { return t.faceoffs; }},
        {"HITS", [](const Team& t) { return t.hits; }},
        {"PENALTY MINUTES",
         [](const Team& t) {
             int minutes = 0;
             for (const Player& player : t.players)
                 minutes += player.penaltyMinutes;
             return minutes;
         }},
    };
    int row = 6;
    for (const auto& [name, value] : lines) {
        GotoDecimal(row++, 10);
        Put(Format("%-20s %6d %6d", name, value(m_home), value(m_visitor)));
    }
    row += 2;
    for (const Team* team : {&m_home, &m_visitor}) {
        GotoDecimal(row++, 10);
        Put(team->name + " POINTS");
        for (const Player& player : team->players) {
            if (player.goals + player.assists == 0 || row > 40)
                continue;
            GotoDecimal(row++, 12);
            Put(Format("#%-3d %-18s %d G  %d A", player.number, player.name.c_str(), player.goals,
                       player.assists));
        }
        ++row;
    }
}

void CSampleGame::PlaySecond() {
    if (!m_running) {
        Team& winner = Pick(2) == 0 ? m_home : m_visitor;
        ++winner.faceoffs;
        DrawTeamStats();
        Status("FACEOFF WON " + Tag(winner, winner.players[OnIce(winner).front()]));
        m_running = true;
    }
    --m_clock;
    DrawClock();
    for (Team* team : {&m_home, &m_visitor}) {
        // The time on ice of the players out there runs with the clock.
        for (const int index : OnIce(*team)) {
            Player& player = team->players[index];
            ++player.iceSeconds;
            if (index != kGoalie)
                DrawPlayerField(*team, index, kIceOffset, MinutesSeconds(player.iceSeconds));
        }
        ++team->shiftSeconds;
        TickPenalties(*team);
        if (Chance(25))
            ++team->hits;
    }
    if (m_clock % 30 == 0) {
        // Twice a game minute the whole sheet is sent again.
        for (const Team* team : {&m_home, &m_visitor})
            for (int i = 0; i < static_cast<int>(team->players.size()); ++i)
                DrawPlayerLine(*team, i);
        DrawTeamStats();
    }
    for (Team* team : {&m_home, &m_visitor}) {
        if (m_running && Chance(9 + 8 * static_cast<int>(Other(*team).penalties.size())))
            Shot(*team, Other(*team));
        if (m_running && Chance(3))
            TakePenalty(*team);
        if (team->shiftSeconds > 38 + Pick(20))
            ChangeLines(*team);
    }
    if (m_running && Chance(20))
        Stoppage();
}

std::vector<int> CSampleGame::OnIce(const Team& team) {
    const int forwards = team.line < 3 ? team.line * 5 : 15;
    const int pair = team.pair * 5 + 3;
    return {forwards, forwards + 1, forwards + 2, pair, pair + 1, kGoalie};
}

std::string CSampleGame::Tag(const Team& team, const Player& player) {
    return Format("%s #%d %s", team.code.c_str(), player.number, player.name.c_str());
}

void CSampleGame::Shot(Team& team, Team& other) {
    const std::vector<int> onIce = OnIce(team);
    const int shooter = onIce[Pick(5)];
    ++team.shots;
    ++team.players[shooter].shots;
    DrawPlayerField(team, shooter, kShotsOffset, Format("%3d", team.players[shooter].shots));
    if (Chance(100)) {
        Goal(team, other, shooter);
        return;
    }
    ++other.players[kGoalie].saves;
    DrawPlayerLine(other, kGoalie);
    DrawScoreLine();
    Status("SHOT " + Tag(team, team.players[shooter]) + "  SAVE " +
           Tag(other, other.players[kGoalie]));
    if (Chance(300)) {
        m_running = false;
        Status("STOPPAGE - PUCK FROZEN");
    }
}

void CSampleGame::Goal(Team& team, Team& other, int shooter) {
    Player& scorer = team.players[shooter];
    ++scorer.goals;
    ++team.goals;
    ++other.players[kGoalie].against;
    std::string assists;
    for (const int index : OnIce(team)) {
        if (index == shooter || index == kGoalie || assists.size() > 30 || Chance(400))
            continue;
        ++team.players[index].assists;
        assists += (assists.empty() ? "" : ", ") + Format("#%d", team.players[index].number);
        DrawPlayerLine(team, index);
    }
    const bool powerPlay = other.penalties.size() > team.penalties.size();
    for (Team* side : {&team, &other}) {
        for (const int index : OnIce(*side)) {
            if (!powerPlay && index != kGoalie)
                side->players[index].plusMinus += side == &team ? 1 : -1;
            DrawPlayerLine(*side, index);
        }
    }
    // The score flashes: highlighting this terminal does not show.
    Skipped("\x1bG4");
    DrawScoreLine();
    Skipped("\x1bG0");
    Status("GOAL " + Tag(team, scorer) + (powerPlay ? "  POWER PLAY" : ""));
    Label(Format("%s %d  %s %d", m_home.code.c_str(), m_home.goals, m_visitor.code.c_str(),
                 m_visitor.goals));
    AddEvent(MinutesSeconds(m_clock) + "  GOAL     " + Tag(team, scorer) +
             (assists.empty() ? "  UNASSISTED" : "  ASSISTS " + assists) +
             (powerPlay ? "  (PP)" : ""));
    if (powerPlay) {
        other.penalties.erase(other.penalties.begin());
        DrawPenalties(other);
        DrawStrength();
    }
    m_running = false;
    ChangeLines(team);
    ChangeLines(other);
}

void CSampleGame::TakePenalty(Team& team) {
    if (team.penalties.size() >= 2)
        return;
    const int player = OnIce(team)[Pick(5)];
    const std::string infraction = kInfractions[Pick(std::size(kInfractions))];
    team.penalties.push_back({player, infraction, 120});
    team.players[player].penaltyMinutes += 2;
    DrawPlayerField(team, player, kPimOffset, Format("%3d", team.players[player].penaltyMinutes));
    DrawPenalties(team);
    DrawStrength();
    Status("PENALTY " + Tag(team, team.players[player]) + "  2 MIN " + infraction);
    Label("POWER PLAY " + Other(team).code + "  2:00");
    AddEvent(MinutesSeconds(m_clock) + "  PENALTY  " + Tag(team, team.players[player]) + "  " +
             infraction + "  2:00");
    m_running = false;
}

void CSampleGame::Stoppage() {
    const std::string reason = kStoppages[Pick(std::size(kStoppages))];
    m_running = false;
    Status("STOPPAGE - " + reason);
    AddEvent(MinutesSeconds(m_clock) + "  STOPPAGE " + reason);
    ChangeLines(m_home);
    ChangeLines(m_visitor);
    const int taken = static_cast<int>(std::size(kTimeouts)) - m_timeoutsLeft;
    if (m_timeoutsLeft == 0 || m_clock > kTimeouts[taken])
        return;
    --m_timeoutsLeft;
    Status("TV TIMEOUT");
    Label("TV TIMEOUT  PERIOD 2  " + MinutesSeconds(m_clock));
    DrawSummary("TV TIMEOUT  PERIOD 2  " + MinutesSeconds(m_clock));
    Status("RESUMING PLAY");
    SetWide(true);
    DrawBoard();
}

void CSampleGame::ChangeLines(Team& team) {
    DrawMarkers(team, false);
    for (const int index : OnIce(team)) {
        if (index == kGoalie)
            continue;
        Player& player = team.players[index];
        ++player.shifts;
        DrawPlayerField(
            team, index, kIceOffset,
            Format("%5s %3d", MinutesSeconds(player.iceSeconds).c_str(), player.shifts));
    }
    team.line = (team.line + 1) % 4;
    team.pair = (team.pair + 1) % 3;
    team.shiftSeconds = 0;
    DrawMarkers(team, true);
}

void CSampleGame::TickPenalties(Team& team) {
    if (team.penalties.empty())
        return;
    for (int i = 0; i < static_cast<int>(team.penalties.size()); ++i) {
        const int secondsLeft = --team.penalties[i].secondsLeft;
        Goto(kPenaltyRow + i, ColumnOf(team) + kPenaltyTimeOffset);
        Put(MinutesSeconds(secondsLeft));
    }
    if (team.penalties.front().secondsLeft > 0)
        return;
    Status("PENALTY EXPIRED " + Tag(team, team.players[team.penalties.front().player]));
    team.penalties.erase(team.penalties.begin());
    DrawPenalties(team);
    DrawStrength();
    Label("PERIOD 2");
}

void CSampleGame::AddEvent(const std::string& text) {
    m_events.push_front(text);
    if (m_events.size() > kEventRows)
        m_events.pop_back();
    DrawEvents();
}
