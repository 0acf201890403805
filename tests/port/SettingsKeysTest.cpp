// The one list of optional settings keys: its rules, and the README's table of it.
#include "CSettingsKeys.h"

#include <gtest/gtest.h>

#include <QFile>

namespace {

struct RuleCase {
    const char* m_key;
    const char* m_value;
    bool m_valid;
};

class KeyRule : public ::testing::TestWithParam<RuleCase> {};

TEST_P(KeyRule, TellsAGoodValueFromABadOne) {
    const RuleCase& c = GetParam();
    const QString problem =
        CSettingsKeys::Problem(CSettingsKeys::Find(c.m_key), QString::fromLatin1(c.m_value));
    EXPECT_EQ(problem.isEmpty(), c.m_valid) << problem.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Values, KeyRule,
    ::testing::Values(
        RuleCase{"journal", "off", true}, RuleCase{"journal", "yes", false},
        RuleCase{"share_port", "65535", true}, RuleCase{"share_port", "0", false},
        RuleCase{"share_port", "99999", false}, RuleCase{"share_port", "8200x", false},
        RuleCase{"share_viewers", "-5", false}, RuleCase{"journal_days", "1", true},
        RuleCase{"restore_hours", "abc", false}, RuleCase{"share_address", "all", true},
        RuleCase{"share_address", "any", false}, RuleCase{"share_code", "abcdefgh23", true},
        RuleCase{"share_code", "abcdefgh2", false}, RuleCase{"share_code", "ABCDEFGH23", false},
        RuleCase{"share_code", "abcdefgh1o", false}));

TEST(SettingsKeys, ANumberOutsideItsRuleIsTheDefault) {
    EXPECT_EQ(CSettingsKeys::Number(CSettingsKeys::kJournalDays, QStringLiteral("7")), 7);
    EXPECT_EQ(CSettingsKeys::Number(CSettingsKeys::kJournalDays, QStringLiteral("-1")), 30);
    EXPECT_EQ(CSettingsKeys::Number(CSettingsKeys::kJournalMaxMb, QString()), 2048);
}

// Operators read the keys in the README: every key there, with its default.
TEST(SettingsKeys, TheReadmeTableListsEveryKeyWithItsDefault) {
    QFile readme(QStringLiteral(TALLYVIEW_README));
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    for (const CSettingsKeys::Key& key : CSettingsKeys::All()) {
        const QString value =
            *key.m_default ? QStringLiteral("`%1`").arg(key.m_default) : QStringLiteral("(none)");
        EXPECT_TRUE(text.contains(QStringLiteral("| `%1` | %2 |").arg(key.m_name, value)))
            << key.m_name;
    }
}

} // namespace
