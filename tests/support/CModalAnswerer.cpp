#include "CModalAnswerer.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

template <class T> T* Expect(QWidget& window) {
    auto* expected = qobject_cast<T*>(&window);
    if (!expected) {
        ADD_FAILURE() << "unexpected " << window.metaObject()->className() << " \""
                      << window.windowTitle().toStdString() << '"';
        window.close();
    }
    return expected;
}

// The main window runs modal to a parent it does not have: it is the window under test, not one
// the code under test opened.
bool BlocksNothing(const QWidget& window) {
    return window.windowModality() == Qt::WindowModal && !window.parentWidget();
}

} // namespace

void CModalAnswerer::RunModally(QDialog& window, const std::function<void()>& script) {
    QTimer::singleShot(0, &window, [&] {
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        script();
        QTimer::singleShot(5000, &window, [&] { window.reject(); }); // never hang
    });
    window.exec();
}

CModalAnswerer::CModalAnswerer(std::vector<Answer> next, Answer rest)
    : m_next(std::move(next)), m_rest(std::move(rest)) {
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
    m_timer.start(20);
}

void CModalAnswerer::Accept(QWidget& window) {
    if (auto* dialog = Expect<QDialog>(window))
        dialog->accept();
}

void CModalAnswerer::Reject(QWidget& window) {
    if (auto* dialog = Expect<QDialog>(window))
        dialog->reject();
}

void CModalAnswerer::Ok(QWidget& window) {
    if (auto* box = Expect<QMessageBox>(window))
        box->done(QMessageBox::Ok);
}

void CModalAnswerer::Close(QWidget& window) {
    window.close();
}

QStringList CModalAnswerer::Texts() const {
    QStringList texts;
    for (const Message& message : m_messages)
        texts << message.m_text;
    return texts;
}

void CModalAnswerer::Poll() {
    QWidget* window = QApplication::activePopupWidget();
    if (!window)
        window = QApplication::activeModalWidget();
    // An answer may wait for a window its own window opens: it is not answered twice meanwhile.
    if (!window || !window->isVisible() || m_answering.contains(window) || BlocksNothing(*window))
        return;
    const Answer answer = Done() ? m_rest : m_next[m_given++];
    if (!answer)
        return;
    if (auto* box = qobject_cast<QMessageBox*>(window))
        m_messages.append({box->windowTitle(), box->text(), box->detailedText()});
    m_answering.append(window);
    answer(*window);
    m_answering.removeOne(window);
}
