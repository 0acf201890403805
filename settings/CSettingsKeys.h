#pragma once

#include <QString>
#include <span>

// Every optional key of the settings file, in one list: its name, its default and its rule. A
// file without a key reads as its default, so files of older versions read as they are. The
// window, the relay and the README's table all take the keys from here.
class CSettingsKeys {
public:
    // What a value must be.
    enum class Rule {
        Switch, // "on" or "off"
        Count,  // a whole number above zero
        Port,   // a TCP port, 1 to 65535
        Reach,  // "local" or "all"
        Code,   // the access code: 10 of the code alphabet's characters
        Text,   // anything on one line (a path, an address checked where it is used)
    };

    struct Key {
        const char* m_name;
        const char* m_default; // empty: none
        Rule m_rule;
        const char* m_meaning;
    };

    static constexpr const char* kJournal = "journal";
    static constexpr const char* kJournalFolder = "journal_folder";
    static constexpr const char* kJournalDays = "journal_days";
    static constexpr const char* kJournalMaxMb = "journal_max_mb";
    static constexpr const char* kRestoreHours = "restore_hours";
    static constexpr const char* kShare = "share";
    static constexpr const char* kShareAddress = "share_address";
    static constexpr const char* kSharePort = "share_port";
    static constexpr const char* kShareCode = "share_code";
    static constexpr const char* kShareCertificate = "share_certificate";
    static constexpr const char* kShareKey = "share_key";
    static constexpr const char* kShareViewers = "share_viewers";
    static constexpr const char* kPublish = "publish";
    static constexpr const char* kPublishMaxPacket = "publish_max_packet";
    static constexpr const char* kFieldsFile = "fields_file";
    static constexpr const char* kFieldsFolder = "fields_folder";
    static constexpr const char* kTextSize = "textsize";
    static constexpr const char* kLook = "look";
    static constexpr const char* kWindow = "window";
    static constexpr const char* kMaximised = "maximised";

    // The characters of an access code, without those easily mistaken for one another.
    static constexpr const char* kCodeAlphabet = "abcdefghjkmnpqrstuvwxyz23456789";
    static constexpr int kCodeLength = 10;

    static std::span<const Key> All();
    // The key named `name`; every name the program uses is in the list.
    static const Key& Find(const char* name);
    // Empty when `value` keeps the key's rule, otherwise what is wrong with it, in words.
    static QString Problem(const Key& key, const QString& value);
    // The key's whole number: `value`, or the default when it is absent or breaks the rule.
    static int Number(const char* name, const QString& value);
    // What takes the place of a value that breaks the key's rule: its default, or for the
    // access code a new one.
    static QString Replacement(const Key& key);
    // Letters and digits that cannot be mistaken for one another when read aloud or typed.
    static QString NewCode();
};
