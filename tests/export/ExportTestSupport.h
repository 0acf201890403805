#pragma once

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

class QTimer;
class QWidget;

// Runs program to its end with the given arguments and returns what it wrote on standard
// output; an exit status other than 0 fails the current test.
QByteArray RunTool(const QString& program, const QStringList& arguments);

// Writes bytes to path, replacing what was there; a failure fails the current test.
void WriteBytes(const QString& path, const QByteArray& bytes);

// Calls handle with the next modal window that opens (a dialog or message box); it must close
// the window. Call before the code that opens it; Handled() tells whether it has run.
class NextModal {
public:
    explicit NextModal(std::function<void(QWidget*)> handle);
    ~NextModal();
    NextModal(const NextModal&) = delete;
    NextModal& operator=(const NextModal&) = delete;

    bool Handled() const { return m_handled; }

private:
    QPointer<QTimer> m_timer;
    bool m_handled = false;
};
