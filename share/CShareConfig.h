#pragma once

#include "CSettingsKeys.h"

#include <QHostAddress>
#include <QString>

class CTnCommPort;

// How the screen is shared, kept in the settings file beside the port's settings. Every key is
// optional: a file without them shares nothing, and a value that cannot be used counts as
// absent.
struct CShareConfig {
    static constexpr quint16 kDefaultPort = 8132;
    static constexpr int kCodeLength = CSettingsKeys::kCodeLength;
    static constexpr int kDefaultMaxViewers = 500;

    bool m_on = false;
    bool m_allNetworks = false; // otherwise this computer only
    quint16 m_port = kDefaultPort;
    QString m_code;
    // Viewers beyond it are refused.
    int m_maxViewers = kDefaultMaxViewers;
    // PEM files: either one asks for pages and updates over TLS, which then needs both.
    QString m_certificate;
    QString m_key;

    // A config without a usable code gets a new one.
    static CShareConfig Load(const CTnCommPort& port);
    void Store(CTnCommPort& port) const;

    static bool IsCode(const QString& text);

    // Asked for TLS: one file without the other is an error, never plain HTTP.
    bool Secure() const { return !m_certificate.isEmpty() || !m_key.isEmpty(); }
    QHostAddress Address() const;
    // The address to give people, for the port actually served; on all networks the first
    // address of this computer that others can reach.
    QString Url(quint16 servedPort) const;

    bool operator==(const CShareConfig&) const = default;
};
