#pragma once

#include <QSerialPort>
#include <QString>
#include <optional>
#include <span>

// The settings of one serial line, as a plain value: what the configuration dialog returns,
// what the settings file holds and what the reader opens the device with.
struct CPortSettings {
    // One choice of an enumerated setting: its value, its word in the settings file and the
    // text the configuration dialog shows.
    template <typename T> struct Choice {
        T m_value;
        const char* m_key;
        const char* m_label;
    };

    QString m_device;
    qint32 m_baud = 9600;
    QSerialPort::DataBits m_dataBits = QSerialPort::Data8;
    QSerialPort::Parity m_parity = QSerialPort::NoParity;
    QSerialPort::StopBits m_stopBits = QSerialPort::OneStop;
    QSerialPort::FlowControl m_flow = QSerialPort::NoFlowControl;

    bool operator==(const CPortSettings&) const = default;

    // Empty when the settings can be used to open a device, otherwise what is wrong, in words.
    // An empty device path is allowed here: it is "not configured", refused when opening.
    QString Problem() const;
    // "9600 8N1", "115200 7E2 RTS/CTS": the line settings the way operators write them.
    QString Summary() const;

    static std::span<const Choice<QSerialPort::DataBits>> DataBitsChoices();
    static std::span<const Choice<QSerialPort::Parity>> ParityChoices();
    static std::span<const Choice<QSerialPort::StopBits>> StopBitsChoices();
    static std::span<const Choice<QSerialPort::FlowControl>> FlowChoices();

    // Looks a choice up by its settings-file word (case-insensitive) or by its value.
    template <typename T>
    static std::optional<T> FromKey(std::span<const Choice<T>> choices, const QString& key) {
        for (const Choice<T>& c : choices)
            if (key.compare(QLatin1String(c.m_key), Qt::CaseInsensitive) == 0)
                return c.m_value;
        return std::nullopt;
    }
    template <typename T> static const Choice<T>* Find(std::span<const Choice<T>> choices, T v) {
        for (const Choice<T>& c : choices)
            if (c.m_value == v)
                return &c;
        return nullptr;
    }
};
