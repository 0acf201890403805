#pragma once

#include <QList>
#include <QString>

// A place on an MQTT broker: mqtt://[USER[:PASSWORD]@]HOST[:PORT]/TOPIC, or mqtts:// for the
// same over TLS. The port defaults to the protocol's own (1883, 8883 with TLS). TOPIC is the
// root under which one line's topics live; it holds no wildcard. Several nodes of one broker (a
// cluster) are listed HOST:PORT,HOST:PORT: the client uses the first that answers and the
// others in turn when it goes.
struct CMqttAddress {
    struct Node {
        QString m_host;
        quint16 m_port = 0;
        bool operator==(const Node&) const = default;
    };

    bool m_tls = false;
    QString m_user;
    QString m_password;
    QList<Node> m_nodes; // never empty once parsed without a problem
    QString m_topic;

    static bool IsMqtt(const QString& text);
    // Empty problem when the text can be used, otherwise what is wrong, in words.
    static CMqttAddress Parse(const QString& text, QString& problem);
    // The topic under the root: "TOPIC/name".
    QByteArray Topic(const char* name) const;
    // mqtt://HOST:PORT[,HOST:PORT...]/TOPIC, without the password, for messages and the monitor.
    QString Shown() const;
    // HOST:PORT of one node.
    QString NodeShown(qsizetype node) const;

private:
    // One node's address, as QUrl reads it.
    static CMqttAddress ParseOne(const QString& text, QString& problem);
};
