#pragma once

#include <QString>

struct TProxyProtRec
{
    QString Host;
    int Port = 0;
    bool operator==(const TProxyProtRec&) const = default;
};

// The system's proxy per protocol, in this order.
struct TProxySystemRec
{
    TProxyProtRec http;
    TProxyProtRec https;
    TProxyProtRec ftp;
    TProxyProtRec gopher;
    TProxyProtRec socks;
    bool operator==(const TProxySystemRec&) const = default;
};

// The proxy the desktop is set to use, from the environment variable http_proxy (or
// HTTP_PROXY). False, with every entry cleared, when none is set.
bool GetSystemProxy(TProxySystemRec& rec);

// Parses a proxy list: either "http=host:port;ftp=host:port ..." per protocol, or one
// "host:port" for all of them. A URL form (scheme://user@host:port/) is reduced to host:port.
// Entries the list does not name are left empty; a port that is not a number is 0.
void ParseProxyList(const QString& list, TProxySystemRec& rec);
