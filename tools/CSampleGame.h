#pragma once

#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <string_view>
#include <vector>

// A hockey period as a statistics computer sends it to the press-table terminal: the
// 132-column board drawn with cursor addressing, then the clock, shots, goals, penalties,
// line changes and the event list redrawn field by field, status and label messages, and
// 80-column summary screens at the TV timeouts and the end of the period. The same seed
// always gives the same bytes.
class CSampleGame {
public:
    explicit CSampleGame(std::uint32_t seed);
    std::string Generate();

private:
    struct Player {
        int number;
        std::string name;
        char position; // C, L, R, D, G
        int goals = 0;
        int assists = 0;
        int shots = 0;
        int plusMinus = 0;
        int penaltyMinutes = 0;
        int iceSeconds = 0;
        int shifts = 0;
        int saves = 0; // goalies
        int against = 0;
    };
    struct Penalty {
        int player;
        std::string infraction;
        int secondsLeft;
    };
    struct Team {
        std::string name;
        std::string code;
        std::vector<Player> players; // 18 skaters in shift order, then 2 goalies
        int side;                    // 0: home, 1: visitor
        int goals = 0;
        int shots = 0;
        int faceoffs = 0;
        int hits = 0;
        int line = 0; // forward line on the ice, 0-3
        int pair = 0; // defence pair on the ice, 0-2
        int shiftSeconds = 0;
        std::vector<Penalty> penalties;
    };

    // The terminal's byte language.
    void Goto(int row, int col);
    void GotoDecimal(int row, int col);
    void At(int row, int col, std::string_view text);
    void Put(std::string_view text) { m_out += text; }
    void ClearScreen();
    void ClearToEnd();
    void Status(std::string_view text);
    void Label(std::string_view text);
    void SetWide(bool wide);
    void Skipped(std::string_view sequence); // sequences this terminal only skips

    // The 132-column board.
    void DrawBoard();
    void DrawHeader();
    void DrawScoreLine();
    void DrawClock();
    void DrawStrength();
    void DrawPlayerLine(const Team& team, int index);
    void DrawMarkers(const Team& team, bool onIce);
    void DrawPlayerField(const Team& team, int index, int offset, std::string_view text);
    void DrawPenalties(const Team& team);
    void DrawEvents();
    void DrawTeamStats();
    // The 80-column summary screen.
    void DrawSummary(std::string_view title);

    // The game.
    void PlaySecond();
    void Shot(Team& team, Team& other);
    void Goal(Team& team, Team& other, int shooter);
    void TakePenalty(Team& team);
    void Stoppage();
    void ChangeLines(Team& team);
    void TickPenalties(Team& team);
    void AddEvent(const std::string& text);
    static std::vector<int> OnIce(const Team& team);
    Team& Other(const Team& team) { return &team == &m_home ? m_visitor : m_home; }
    static constexpr int kGoalie = 18; // the starter; the backup sits
    int ColumnOf(const Team& team) const { return team.side == 0 ? 1 : 67; }
    int Pick(int count) { return static_cast<int>(m_rng() % static_cast<unsigned>(count)); }
    bool Chance(int perThousand) { return Pick(1000) < perThousand; }
    static std::string LineText(const Player& player);
    static std::string PenaltyText(const Team& team, const Penalty& penalty);
    static std::string Tag(const Team& team, const Player& player);
    static Team MakeTeam(std::string name, std::string code, int side);
    void SeedFirstPeriod(Team& team, int goals);

    std::string m_out;
    std::mt19937 m_rng;
    Team m_home;
    Team m_visitor;
    int m_clock = 20 * 60; // seconds left in the period
    bool m_running = false;
    int m_timeoutsLeft = 3;
    std::deque<std::string> m_events;
};
