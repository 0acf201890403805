#pragma once

#include <QList>
#include <QObject>
#include <QPalette>
#include <QPointer>
#include <QString>
#include <optional>

class QWidget;

// The program's colour scheme, one for all its windows: the platform's own ("Classic"), a dark
// one and a high-contrast one. A window calls Follow() once; it then takes every change.
class CLook : public QObject {
    Q_OBJECT

public:
    enum class Look { Classic, Dark, HighContrast };

    static CLook& Instance();

    static QList<Look> All() { return {Look::Classic, Look::Dark, Look::HighContrast}; }
    // "Classic", "Dark", "High contrast".
    static QString Name(Look look);
    // The settings file's word for it, and back; nothing for a word no version wrote.
    static QString Key(Look look);
    static std::optional<Look> FromKey(const QString& key);
    // The colours a window gets; Classic is the application's palette.
    static QPalette Palette(Look look);

    Look Current() const { return m_look; }
    void Set(Look look);
    // Gives window the current look now and at every change while it lives; a window already
    // following is not added twice.
    void Follow(QWidget* window);

signals:
    void Changed(CLook::Look look);

private:
    CLook() = default;
    static void Apply(QWidget* window, Look look);

    Look m_look = Look::Classic;
    QList<QPointer<QWidget>> m_windows;
};
