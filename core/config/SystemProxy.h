#pragma once

#include <QString>

struct ProxyProtocol
{
    QString host;
    int port = 0;
    bool operator==(const ProxyProtocol&) const = default;
};

// The system's proxy per protocol, in this order.
struct SystemProxy
{
    ProxyProtocol http;
    ProxyProtocol https;
    ProxyProtocol ftp;
    ProxyProtocol gopher;
    ProxyProtocol socks;
    bool operator==(const SystemProxy&) const = default;
};

// The proxy the desktop is set to use, from the environment variable http_proxy (or
// HTTP_PROXY). False, with every entry cleared, when none is set.
bool readSystemProxy(SystemProxy& rec);

// Parses a proxy list: either "http=host:port;ftp=host:port ..." per protocol, or one
// "host:port" for all of them. A URL form (scheme://user@host:port/) is reduced to host:port.
// Entries the list does not name are left empty; a port that is not a number is 0.
void parseProxyList(const QString& list, SystemProxy& rec);
