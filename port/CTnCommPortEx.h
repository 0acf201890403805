#pragma once

#include "CLineListener.h"
#include "CTnCommPort.h"
#include "CTrafficTap.h"

#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

// A port that hands what it receives to a protocol handler, with a traffic monitor window.
// Every chunk read goes first to the listeners on one list, in order: the monitor's tap, then
// whatever else takes from the line (the journal, the publisher).
class CTnCommPortEx : public CTnCommPort {
public:
    // Received bytes go one at a time, in order, to HandleTerminalData.
    static constexpr int kTerminalProtocol = 3;

    CTnCommPortEx();
    ~CTnCommPortEx() override;
    CTnCommPortEx& operator=(const CTnCommPortEx& other);

    // Only kTerminalProtocol exists; any other number is refused and changes nothing.
    bool SetProtocol(const int& protocol);
    int Protocol() const { return m_protocol; }
    // 1 shows the traffic monitor window (modeless), 0 hides it: the windows a program with a
    // window installed (CPortViews); without them there is none.
    bool ViewMonitor(int show);
    CTrafficTap& Tap() const { return *m_tap; }

    // From the next Open on, every chunk that goes to the protocol handler goes to `listener`
    // too. Only while the port is closed.
    void AttachListener(std::unique_ptr<CLineListener> listener);
    // The same at any time, from the window's thread: the listener is made between two chunks,
    // so it finds the screen and the bytes pending for it exactly as the next chunk will.
    void AddListener(const std::function<std::unique_ptr<CLineListener>()>& make);
    // Takes out, between two chunks, the listeners `which` picks, for the caller to end.
    std::vector<std::unique_ptr<CLineListener>>
    TakeListeners(const std::function<bool(const CLineListener&)>& which);
    // The first listener that is a T, or null.
    template <class T> T* FindListener() const {
        for (const std::unique_ptr<CLineListener>& listener : m_listeners)
            if (auto* found = dynamic_cast<T*>(listener.get()))
                return found;
        return nullptr;
    }
    // Lines the monitor shows above the listeners' (what is off, say).
    void SetNotes(const QStringList& notes) { m_notes = notes; }
    // The notes, then what each listener is doing, a line each, for the monitor.
    QStringList StateLines() const;
    // Bytes received since the port object was made.
    quint64 ReceivedTotal() const { return m_tap->Total(); }

protected:
    void HandleReceived(QByteArrayView chunk) override;

private:
    void Join(std::unique_ptr<CLineListener> listener);

    std::atomic<int> m_protocol{0};
    std::vector<std::unique_ptr<CLineListener>> m_listeners; // the tap first
    CTrafficTap* m_tap;
    QStringList m_notes;
};
