#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <vector>

class QDialog;
class QWidget;

// Answers the modal windows and popups (dialogs, message boxes, menus) that the code under test
// opens, in the order they open: each gets the next answer, which must close it. Message boxes
// are recorded before they are answered. Make it before the code that opens the first window;
// an answer may make another answerer for windows its own window opens.
class CModalAnswerer {
public:
    using Answer = std::function<void(QWidget&)>;

    struct Message {
        QString m_caption;
        QString m_text;
        QString m_detail;
    };

    // One answer each for the next windows. Once they are given, later windows get rest, or are
    // left alone when rest is empty.
    explicit CModalAnswerer(std::vector<Answer> next, Answer rest = {});
    explicit CModalAnswerer(Answer next) : CModalAnswerer(std::vector<Answer>{std::move(next)}) {}

    // What OK and Cancel do; Ok takes message boxes only. A window of another kind fails the
    // test and is closed, so that the test goes on.
    static void Accept(QWidget& window);
    static void Reject(QWidget& window);
    static void Ok(QWidget& window);
    static void Close(QWidget& window);

    // Runs window modally with script inside its loop, once the window is on screen; the script
    // must end it (a real Escape, say), or the window is rejected after five seconds.
    static void RunModally(QDialog& window, const std::function<void()>& script);

    // Every answer in next has been given.
    bool Done() const { return m_given == m_next.size(); }
    const QList<Message>& Messages() const { return m_messages; }
    QStringList Texts() const;

private:
    void Poll();

    std::vector<Answer> m_next;
    std::size_t m_given = 0;
    Answer m_rest;
    QList<Message> m_messages;
    QList<const QWidget*> m_answering; // windows whose answer is still running
    // A member, so no poll can run after the answerer is gone.
    QTimer m_timer;
};
