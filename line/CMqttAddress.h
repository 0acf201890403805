#pragma once

#include <QString>

// A place on an MQTT broker: mqtt://[USER[:PASSWORD]@]HOST[:PORT]/TOPIC, or mqtts:// for the
// same over TLS. The port defaults to the protocol's own (1883, 8883 with TLS). TOPIC is the
// root under which one line's topics live; it holds no wildcard.
struct CMqttAddress {
    bool m_tls = false;
    QString m_user;
    QString m_password;
    QString m_host;
    quint16 m_port = 0;
    QString m_topic;

    static bool IsMqtt(const QString& text);
    // Empty problem when the text can be used, otherwise what is wrong, in words.
    static CMqttAddress Parse(const QString& text, QString& problem);
    // The topic under the root: "TOPIC/name".
    QByteArray Topic(const char* name) const;
    // HOST:PORT/TOPIC, without the password, for messages and the monitor.
    QString Shown() const;
};
