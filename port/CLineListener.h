#pragma once

#include <QByteArrayView>
#include <QString>
#include <functional>

// Something beyond the screen that takes every chunk read from the line, such as a publisher
// of the line. Chunks come on the reader's thread, in order, and must only be handed over
// there: a listener never makes the line wait.
class CLineListener {
public:
    // Runs an action on the line's reader thread between two chunks, the calling thread waiting.
    using BetweenChunks = std::function<void(const std::function<void()>&)>;

    virtual ~CLineListener() = default;
    virtual void Feed(QByteArrayView chunk) = 0;
    // The port's way there, handed over as the listener joins the line.
    virtual void Joined(BetweenChunks /*betweenChunks*/) {}
    // A line for the monitor on what the listener is doing (more, separated by newlines, for
    // states that last on their own), from any thread.
    virtual QString StateLine() const = 0;
};
